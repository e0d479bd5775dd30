// Who may supply an update: the same publisher under the same root, and
// anyone at all for an unsigned program.
#include <gtest/gtest.h>

#include "update/publisher_rule.h"

namespace {

const unsigned char kOurName[] = {0x30, 0x0b, 'H', 'a', 'l', 'v', 'o'};
const unsigned char kNameOneByteOff[] = {0x30, 0x0b, 'H', 'a', 'l', 'v', 'p'};
const unsigned char kRootA[] = {0x30, 0x82, 0x01, 0xaa, 0x01};
const unsigned char kRootB[] = {0x30, 0x82, 0x01, 0xaa, 0x02};

SignerIdentity Signer(const unsigned char *name, size_t nameLength, const unsigned char *root, size_t rootLength)
{
    return SignerIdentity{name, nameLength, root, rootLength};
}

TEST(SamePublisher, NeedsTheSameNameAndTheSameRootByteForByte)
{
    const SignerIdentity ours = Signer(kOurName, sizeof kOurName, kRootA, sizeof kRootA);
    const struct {
        SignerIdentity other;
        int same;
    } rows[] = {
        {Signer(kOurName, sizeof kOurName, kRootA, sizeof kRootA), 1},
        {Signer(kNameOneByteOff, sizeof kNameOneByteOff, kRootA, sizeof kRootA), 0},  // one byte differs
        {Signer(kOurName, sizeof kOurName, kRootB, sizeof kRootB), 0},              // another root
        {Signer(kOurName, sizeof kOurName - 1, kRootA, sizeof kRootA), 0},          // a prefix only
        {Signer(kOurName, sizeof kOurName, kRootA, sizeof kRootA - 1), 0},
        {Signer(nullptr, 0, kRootA, sizeof kRootA), 0},                             // nothing read
        {Signer(kOurName, sizeof kOurName, nullptr, 0), 0},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.same, SamePublisher(&ours, &row.other));
        EXPECT_EQ(row.same, SamePublisher(&row.other, &ours));
    }
    const SignerIdentity empty = Signer(nullptr, 0, nullptr, 0);
    EXPECT_EQ(0, SamePublisher(&empty, &empty));
}

TEST(InstallerAcceptable, ASignedProgramTakesOnlyVerifiedPackagesOfItsPublisher)
{
    const struct {
        int programSigned, installerVerified, samePublisher, acceptable;
    } rows[] = {
        {0, 0, 0, 1}, {0, 1, 0, 1}, {0, 1, 1, 1},  // unsigned: as always
        {1, 1, 1, 1},
        {1, 1, 0, 0}, {1, 0, 0, 0}, {1, 0, 1, 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.acceptable, InstallerAcceptable(row.programSigned, row.installerVerified, row.samePublisher))
            << row.programSigned << row.installerVerified << row.samePublisher;
}

}  // namespace
