// Differential fuzzer of the signature check against OpenSSL's Ed25519: both
// must give the same verdict on every key, signature and message, except
// where our check is the stricter by design (a key whose encoding is not
// canonical). That exception is judged here on the bytes alone, never by
// asking our own decoder.
//
// The first input byte picks the mode:
//   even: a raw triple, key (32) then signature (64) then message, taken
//         straight from the input (zero-padded when short);
//   odd:  a key made from a 32-byte seed and a message, signed by OpenSSL,
//         then changed as the next 4 control bytes say.
#include "signature/ed25519.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const unsigned char kOrder[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                  0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};

// y values (little-endian, sign bit clear) worth trying as keys and as R:
// the points of small order, their non-canonical twins y + p, the rest of
// y in [p, 2^255) and the base point.
const unsigned char kEncodings[][32] = {
    {0},                                                      // y = 0: (+-sqrt(-1), 0), order 4
    {1},                                                      // y = 1: the neutral point
    {0xec, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f},  // p - 1: order 2
    {0x26, 0xe8, 0x95, 0x8f, 0xc2, 0xb2, 0x27, 0xb0, 0x45, 0xc3, 0xf4, 0x89, 0xf2, 0xef, 0x98, 0xf0,
     0xd5, 0xdf, 0xac, 0x05, 0xd3, 0xc6, 0x33, 0x39, 0xb1, 0x38, 0x02, 0x88, 0x6d, 0x53, 0xfc, 0x05},  // order 8
    {0xc7, 0x17, 0x6a, 0x70, 0x3d, 0x4d, 0xd8, 0x4f, 0xba, 0x3c, 0x0b, 0x76, 0x0d, 0x10, 0x67, 0x0f,
     0x2a, 0x20, 0x53, 0xfa, 0x2c, 0x39, 0xcc, 0xc6, 0x4e, 0xc7, 0xfd, 0x77, 0x92, 0xac, 0x03, 0x7a},  // order 8
    {0x58, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
     0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66},  // B
};
const int kEncodingCount = sizeof kEncodings / sizeof kEncodings[0];
// Indexes from kEncodingCount on stand for y = p + (index - kEncodingCount).
const int kChoices = kEncodingCount + 19;

// y = p + low - 0xed, for low from 0xec (p - 1) to 0xff (2^255 - 1).
void NearP(unsigned char out[32], int low)
{
    memset(out, 0xff, 32);
    out[0] = (unsigned char)low;
    out[31] = 0x7f;
}

void PickEncoding(unsigned char out[32], unsigned choice, int sign)
{
    const int index = (int)(choice % kChoices);
    if (index < kEncodingCount)
        memcpy(out, kEncodings[index], 32);
    else
        NearP(out, 0xed + index - kEncodingCount);
    if (sign)
        out[31] |= 0x80;
}

// ---- what may differ, judged on the bytes ----

// y (the 255 low bits) is p = 2^255 - 19 or more.
int YNotBelowP(const unsigned char e[32])
{
    if ((e[31] & 0x7f) != 0x7f || e[0] < 0xed)
        return 0;
    for (int i = 1; i < 31; ++i)
        if (e[i] != 0xff)
            return 0;
    return 1;
}

// The sign bit is set on a point whose x is 0: y is 1, p + 1 or p - 1.
int SignOnZeroX(const unsigned char e[32])
{
    if (!(e[31] & 0x80))
        return 0;
    unsigned char y[32], candidate[32] = {1};
    memcpy(y, e, 32);
    y[31] &= 0x7f;
    if (memcmp(y, candidate, 32) == 0)
        return 1;
    NearP(candidate, 0xee);
    if (memcmp(y, candidate, 32) == 0)
        return 1;
    NearP(candidate, 0xec);
    return memcmp(y, candidate, 32) == 0;
}

// ---- OpenSSL ----

void OpenSslFailed(const char *what)
{
    fprintf(stderr, "ed25519_fuzzer: OpenSSL: %s failed\n", what);
    abort();
}

int OpenSslVerify(const unsigned char key[32], const unsigned char signature[64], const unsigned char *message,
                  size_t size)
{
    EVP_PKEY *pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key, 32);
    if (pkey == nullptr)
        OpenSslFailed("EVP_PKEY_new_raw_public_key");
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (context == nullptr || EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, pkey) != 1)
        OpenSslFailed("EVP_DigestVerifyInit");
    const int result = EVP_DigestVerify(context, signature, 64, message, size);
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(pkey);
    ERR_clear_error();
    return result == 1;
}

void OpenSslSign(const unsigned char seed[32], unsigned char key[32], unsigned char signature[64],
                 const unsigned char *message, size_t size)
{
    EVP_PKEY *pkey = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
    size_t keySize = 32, signatureSize = 64;
    if (pkey == nullptr || EVP_PKEY_get_raw_public_key(pkey, key, &keySize) != 1 || keySize != 32)
        OpenSslFailed("making a key");
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (context == nullptr || EVP_DigestSignInit(context, nullptr, nullptr, nullptr, pkey) != 1 ||
        EVP_DigestSign(context, signature, &signatureSize, message, size) != 1 || signatureSize != 64)
        OpenSslFailed("signing");
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(pkey);
}

// ---- the comparison ----

// S += multiple * L; false when that leaves 256 bits.
int AddOrder(unsigned char s[32], unsigned multiple)
{
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
        carry += s[i] + multiple * kOrder[i];
        s[i] = (unsigned char)carry;
        carry >>= 8;
    }
    return carry == 0;
}

void Report(const char *what, const unsigned char key[32], const unsigned char signature[64])
{
    fprintf(stderr, "ed25519_fuzzer: %s\n  key ", what);
    for (int i = 0; i < 32; ++i)
        fprintf(stderr, "%02x", key[i]);
    fprintf(stderr, "\n  signature ");
    for (int i = 0; i < 64; ++i)
        fprintf(stderr, "%02x", signature[i]);
    fprintf(stderr, "\n");
}

void Compare(const unsigned char key[32], const unsigned char signature[64], const unsigned char *message,
             size_t size, size_t split)
{
    int ours;
    if (split == 0 || split >= size) {
        ours = Ed25519Verify(signature, key, message, size);
    } else {
        Ed25519Check check;
        Ed25519CheckBegin(&check, signature, key);
        Ed25519CheckAdd(&check, message, split);
        Ed25519CheckAdd(&check, message + split, size - split);
        ours = Ed25519CheckEnd(&check);
    }
    const int theirs = OpenSslVerify(key, signature, message, size);
    if (ours == theirs)
        return;
    // Both would be refused by OpenSSL too if it decoded keys strictly.
    if (!ours && (YNotBelowP(key) || SignOnZeroX(key)))
        return;
    Report(ours ? "we accept what OpenSSL refuses" : "we refuse what OpenSSL accepts", key, signature);
    abort();
}

enum Change {
    kNone,
    kFlipSignatureBit,
    kFlipKeyBit,
    kFlipMessageBit,
    kAddOrder,
    kSmallOrderForgery,
    kOddScalar,
    kChangeCount
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static unsigned char padded[96];
    if (size == 0)
        return 0;
    const int signing = data[0] & 1;
    ++data;
    --size;
    if (!signing) {
        memset(padded, 0, 96);
        memcpy(padded, data, size < 96 ? size : 96);
        const size_t rest = size > 96 ? size - 96 : 0;
        Compare(padded, padded + 32, data + size - rest, rest, rest ? data[size - 1] % rest : 0);
        return 0;
    }
    unsigned char seed[32] = {0}, control[4] = {0}, key[32], signature[64];
    memcpy(seed, data, size < 32 ? size : 32);
    if (size > 32)
        memcpy(control, data + 32, size - 32 < 4 ? size - 32 : 4);
    const unsigned char *message = data + (size < 36 ? size : 36);
    const size_t messageSize = size < 36 ? 0 : size - 36;
    OpenSslSign(seed, key, signature, message, messageSize);
    const unsigned position = control[1] | control[2] << 8;
    switch (control[0] % kChangeCount) {
    case kFlipSignatureBit:
        signature[position / 8 % 64] ^= (unsigned char)(1 << position % 8);
        break;
    case kFlipKeyBit:
        key[position / 8 % 32] ^= (unsigned char)(1 << position % 8);
        break;
    case kFlipMessageBit:
        if (messageSize > 0) {
            // The message is the input's; change a copy.
            static unsigned char changed[4096];
            const size_t copied = messageSize < sizeof changed ? messageSize : sizeof changed;
            memcpy(changed, message, copied);
            changed[position / 8 % copied] ^= (unsigned char)(1 << position % 8);
            Compare(key, signature, changed, copied, control[3] % (copied + 1));
            return 0;
        }
        break;
    case kAddOrder:
        // S + mL for m in 1..15 while it fits 256 bits.
        if (!AddOrder(signature + 32, 1 + control[1] % 15))
            return 0;
        break;
    case kSmallOrderForgery: {
        // A key from the list, R from the list and S in 0..3: [S]B = R + [k]A
        // holds for many of these whatever the signer, as A has small order.
        PickEncoding(key, control[1], control[3] & 1);
        PickEncoding(signature, control[2], control[3] & 2);
        memset(signature + 32, 0, 32);
        signature[32] = (unsigned char)(control[3] >> 2 & 3);
        break;
    }
    case kOddScalar:
        // S of 0, L - 1, L, L + 1, 2^253 - 1 or 2^256 - 1.
        switch (control[1] % 6) {
        case 0: memset(signature + 32, 0, 32); break;
        case 1: memcpy(signature + 32, kOrder, 32); signature[32] = 0xec; break;
        case 2: memcpy(signature + 32, kOrder, 32); break;
        case 3: memcpy(signature + 32, kOrder, 32); signature[32] = 0xee; break;
        case 4: memset(signature + 32, 0xff, 32); signature[63] = 0x1f; break;
        default: memset(signature + 32, 0xff, 32); break;
        }
        break;
    default:
        break;
    }
    Compare(key, signature, message, messageSize, control[3] % (messageSize + 1));
    return 0;
}
