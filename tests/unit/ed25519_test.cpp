#include "../../signature/ed25519.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes FromHex(const char *hex)
{
    Bytes bytes;
    for (; hex[0] && hex[1]; hex += 2)
        bytes.push_back((unsigned char)std::stoi(std::string(hex, 2), nullptr, 16));
    return bytes;
}

struct Vector {
    const char *name;
    const char *key;
    const char *message;
    const char *signature;
};

// The message is added in pieces of `piece` bytes, or in one go when 0.
int Verify(const Bytes &key, const Bytes &message, const Bytes &signature, size_t piece = 0)
{
    if (piece == 0)
        return Ed25519Verify(signature.data(), key.data(), message.data(), message.size());
    Ed25519Check check;
    Ed25519CheckBegin(&check, signature.data(), key.data());
    for (size_t at = 0; at < message.size(); at += piece)
        Ed25519CheckAdd(&check, message.data() + at, std::min(piece, message.size() - at));
    return Ed25519CheckEnd(&check);
}

int Verify(const Vector &v, size_t piece = 0)
{
    return Verify(FromHex(v.key), FromHex(v.message), FromHex(v.signature), piece);
}

// RFC 8032, section 7.1.
const Vector kPublished[] = {
    {"TEST 1", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
     "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"TEST 2", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
     "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"TEST 3", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
     "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    {"TEST 1024", "278117fc144c72340f67d0f2316e8386ceffbf2b2428c9c51fef7c597f1d426e",
         "08b8b2b733424243760fe426a4b54908632110a66c2f6591eabd3345e3e4eb98fa6e264bf09efe12ee50f8f54e9f77b1"
         "e355f6c50544e23fb1433ddf73be84d879de7c0046dc4996d9e773f4bc9efe5738829adb26c81b37c93a1b270b20329d"
         "658675fc6ea534e0810a4432826bf58c941efb65d57a338bbd2e26640f89ffbc1a858efcb8550ee3a5e1998bd177e93a"
         "7363c344fe6b199ee5d02e82d522c4feba15452f80288a821a579116ec6dad2b3b310da903401aa62100ab5d1a36553e"
         "06203b33890cc9b832f79ef80560ccb9a39ce767967ed628c6ad573cb116dbefefd75499da96bd68a8a97b928a8bbc10"
         "3b6621fcde2beca1231d206be6cd9ec7aff6f6c94fcd7204ed3455c68c83f4a41da4af2b74ef5c53f1d8ac70bdcb7ed1"
         "85ce81bd84359d44254d95629e9855a94a7c1958d1f8ada5d0532ed8a5aa3fb2d17ba70eb6248e594e1a2297acbbb39d"
         "502f1a8c6eb6f1ce22b3de1a1f40cc24554119a831a9aad6079cad88425de6bde1a9187ebb6092cf67bf2b13fd65f270"
         "88d78b7e883c8759d2c4f5c65adb7553878ad575f9fad878e80a0c9ba63bcbcc2732e69485bbc9c90bfbd62481d9089b"
         "eccf80cfe2df16a2cf65bd92dd597b0707e0917af48bbb75fed413d238f5555a7a569d80c3414a8d0859dc65a46128ba"
         "b27af87a71314f318c782b23ebfe808b82b0ce26401d2e22f04d83d1255dc51addd3b75a2b1ae0784504df543af8969b"
         "e3ea7082ff7fc9888c144da2af58429ec96031dbcad3dad9af0dcbaaaf268cb8fcffead94f3c7ca495e056a9b47acdb7"
         "51fb73e666c6c655ade8297297d07ad1ba5e43f1bca32301651339e22904cc8c42f58c30c04aafdb038dda0847dd988d"
         "cda6f3bfd15c4b4c4525004aa06eeff8ca61783aacec57fb3d1f92b0fe2fd1a85f6724517b65e614ad6808d6f6ee34df"
         "f7310fdc82aebfd904b01e1dc54b2927094b2db68d6f903b68401adebf5a7e08d78ff4ef5d63653a65040cf9bfd4aca7"
         "984a74d37145986780fc0b16ac451649de6188a7dbdf191f64b5fc5e2ab47b57f7f7276cd419c17a3ca8e1b939ae49e4"
         "88acba6b965610b5480109c8b17b80e1b7b750dfc7598d5d5011fd2dcc5600a32ef5b52a1ecc820e308aa342721aac09"
         "43bf6686b64b2579376504ccc493d97e6aed3fb0f9cd71a43dd497f01f17c0e2cb3797aa2a2f256656168e6c496afc5f"
         "b93246f6b1116398a346f1a641f3b041e989f7914f90cc2c7fff357876e506b50d334ba77c225bc307ba537152f3f161"
         "0e4eafe595f6d9d90d11faa933a15ef1369546868a7f3a45a96768d40fd9d03412c091c6315cf4fde7cb68606937380d"
         "b2eaaa707b4c4185c32eddcdd306705e4dc1ffc872eeee475a64dfac86aba41c0618983f8741c5ef68d3a101e8a3b8ca"
         "c60c905c15fc910840b94c00a0b9d0",
     "0aab4c900501b3e24d7cdf4663326a3a87df5e4843b2cbdb67cbf6e460fec350"
     "aa5371b1508f9f4528ecea23c436d94b5e8fcd4f681e30a6ac00a9704a188a03"},
    {"TEST SHA(abc)", "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b589"
     "09351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17ad9bef1177331a704"},
};

TEST(Ed25519, PublishedSignaturesVerify)
{
    for (const Vector &v : kPublished)
        for (size_t piece : {0, 1, 100})
            EXPECT_TRUE(Verify(v, piece)) << v.name << ", pieces of " << piece;
}

// B's encoding (y = 4/5), 1 and 0 as scalars, and encodings of the neutral
// point (0, 1) and of (0, -1): keys of small order, which are not refused.
#define BASE "5866666666666666666666666666666666666666666666666666666666666666"
#define ONE "0100000000000000000000000000000000000000000000000000000000000000"
#define ZERO "0000000000000000000000000000000000000000000000000000000000000000"
#define NEUTRAL ONE
#define MINUS_ONE "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"

// [1]B = B + [k]A holds for the neutral A whatever the message, for (0, -1)
// when k is even (it is for "d"), and [0]B = O + [k]O always.
const Vector kSmallOrder[] = {
    {"neutral key", NEUTRAL, "", BASE ONE},
    {"(0, -1) as key", MINUS_ONE, "64", BASE ONE},
    {"neutral R", NEUTRAL, "", NEUTRAL ZERO},
};

TEST(Ed25519, KeysOfSmallOrderVerify)
{
    for (const Vector &v : kSmallOrder)
        EXPECT_TRUE(Verify(v)) << v.name;
}

// Each the same as a row above but for an encoding that is not the
// canonical one of its point (it would verify if it were read leniently),
// or that is of no point at all.
const Vector kBadEncodings[] = {
    {"key y = p + 1, the neutral point", "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", "",
     BASE ONE},
    {"key x = 0 with the sign bit, neutral", "0100000000000000000000000000000000000000000000000000000000000080", "",
     BASE ONE},
    // k is even for "c" with this key.
    {"key x = 0 with the sign bit, (0, -1)", "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff", "63",
     BASE ONE},
    {"key y = 2, for which x^2 has no root", "0200000000000000000000000000000000000000000000000000000000000000", "",
     BASE ONE},
    {"R y = p + 1", NEUTRAL, "", "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f" ZERO},
    {"R x = 0 with the sign bit", NEUTRAL, "", "0100000000000000000000000000000000000000000000000000000000000080" ZERO},
};

TEST(Ed25519, EncodingsThatAreNotCanonicalPointsAreRefused)
{
    for (const Vector &v : kBadEncodings)
        EXPECT_FALSE(Verify(v)) << v.name;
}

// The decoding on its own: a y with no x refused here would, if let
// through, leave a point off the curve that no row above can tell apart
// from one refused later by the equation.
TEST(Ed25519, OnlyEncodingsOfPointsOnTheCurveDecode)
{
    for (const Vector &v : kPublished)
        EXPECT_TRUE(Ed25519IsPoint(FromHex(v.key).data())) << v.name;
    for (const char *point : {BASE, NEUTRAL, MINUS_ONE})
        EXPECT_TRUE(Ed25519IsPoint(FromHex(point).data())) << point;
    for (const Vector &v : kBadEncodings) {
        if (strcmp(v.key, NEUTRAL) != 0) {
            EXPECT_FALSE(Ed25519IsPoint(FromHex(v.key).data())) << v.name;
        }
    }
    // y = 7 and y = 11 have no x either.
    for (const char *y : {"07", "0b"})
        EXPECT_FALSE(Ed25519IsPoint(FromHex((std::string(y) + std::string(62, '0')).c_str()).data())) << y;
}

enum Target { kKey, kSignature, kMessage };

struct Change {
    const char *name;
    Target target;
    size_t byte;
    unsigned char flip;
};

// Changes to TEST 1024 that must each make it fail.
TEST(Ed25519, ChangedSignaturesAreRefused)
{
    const Vector &v = kPublished[3];
    const Change changes[] = {
        {"bit in R", kSignature, 9, 0x10},
        {"bit in S", kSignature, 40, 0x02},
        {"top bit of S", kSignature, 63, 0x80},
        {"bit in A", kKey, 20, 0x01},
        {"sign bit of A", kKey, 31, 0x80},
        {"bit in the message", kMessage, 1000, 0x40},
    };
    for (const Change &c : changes) {
        Bytes key = FromHex(v.key), message = FromHex(v.message), signature = FromHex(v.signature);
        Bytes &changed = c.target == kKey ? key : c.target == kSignature ? signature : message;
        changed[c.byte] ^= c.flip;
        EXPECT_FALSE(Verify(key, message, signature)) << c.name;
    }
}

// S + L satisfies the equation as S does; only the bound refuses it.
TEST(Ed25519, ScalarNotBelowTheOrderIsRefused)
{
    const Vector &v = kPublished[3];
    const Bytes order = FromHex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
    Bytes signature = FromHex(v.signature);
    for (int i = 0, carry = 0; i < 32; ++i) {
        const int sum = signature[32 + i] + order[i] + carry;
        signature[32 + i] = (unsigned char)sum;
        carry = sum >> 8;
    }
    EXPECT_FALSE(Verify(FromHex(v.key), FromHex(v.message), signature));
}

}  // namespace
