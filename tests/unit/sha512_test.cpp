#include "../../signature/sha512.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

std::string Hex(const unsigned char *bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// Adds the message in pieces of the given sizes, over and over, until it is
// all in.
std::string Digest(const std::string &message, const std::vector<size_t> &pieces)
{
    Sha512 hash;
    Sha512Begin(&hash);
    for (size_t at = 0, piece = 0; at < message.size(); piece = (piece + 1) % pieces.size()) {
        const size_t size = std::min(pieces[piece], message.size() - at);
        Sha512Add(&hash, message.data() + at, size);
        at += size;
    }
    unsigned char digest[SHA512_DIGEST_SIZE];
    Sha512End(&hash, digest);
    return Hex(digest, sizeof digest);
}

struct DigestCase {
    std::string message;
    const char *expected;
};

TEST(Sha512, PublishedExamples)
{
    const DigestCase cases[] = {
        {"abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        // 896 bits: the padding needs a second block.
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
         "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
         "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
        {"",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
         "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
        {std::string(1000000, 'a'),
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
         "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
    for (const DigestCase &c : cases)
        EXPECT_EQ(c.expected, Digest(c.message, {c.message.size() + 1})) << c.message.size() << " bytes";
}

// Pieces that end just before, on and just after a block's end, and empty
// ones.
TEST(Sha512, PiecesOfAnySizeGiveTheSameDigest)
{
    const std::string message(1000000, 'a');
    const std::string whole = Digest(message, {message.size()});
    const std::vector<std::vector<size_t>> pieceSizes = {
        {1}, {111}, {112}, {127}, {128}, {129}, {1, 111, 112, 127, 128, 129, 255, 256, 257, 0, 4096, 3}};
    for (const std::vector<size_t> &pieces : pieceSizes)
        EXPECT_EQ(whole, Digest(message, pieces)) << "first piece " << pieces[0];
}

}  // namespace
