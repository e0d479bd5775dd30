// The value is the fraction num / den with num the digits and den a power of
// ten (or num the digits times a power of ten and den 1). Both are scaled by
// a power of two until den <= num < 2 den; long division then gives the 64
// leading bits of the quotient and whether anything remains, which is all
// that rounding to 53 bits (or fewer, below the normal range) needs.
#include "decimal_to_double.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

namespace {

// Beyond these the result is infinite or zero whatever the digits: the
// value lies at or above 10^(count + exponent - 1), and below
// 10^(count + exponent).
const long kLargestDecade = 310;
const long kSmallestDecade = -324;

// 10^1125, the largest divisor the decades allow, needs 3738 bits; the
// scaling adds two.
const int kLimbs = 120;

struct BigNumber {
    uint32_t limb[kLimbs];  // least significant first
    int used;               // limbs in use; the top one is not zero
};

void SetSmall(BigNumber *n, uint32_t value)
{
    n->limb[0] = value;
    n->used = value != 0;
}

// n = n * factor + addend
void MultiplyAdd(BigNumber *n, uint32_t factor, uint32_t addend)
{
    uint64_t carry = addend;
    for (int i = 0; i < n->used; ++i) {
        const uint64_t product = static_cast<uint64_t>(n->limb[i]) * factor + carry;
        n->limb[i] = static_cast<uint32_t>(product);
        carry = product >> 32;
    }
    if (carry != 0)
        n->limb[n->used++] = static_cast<uint32_t>(carry);
}

void MultiplyByPowerOfTen(BigNumber *n, long power)
{
    for (; power >= 9; power -= 9)
        MultiplyAdd(n, 1000000000u, 0);
    uint32_t rest = 1;
    for (; power > 0; --power)
        rest *= 10;
    MultiplyAdd(n, rest, 0);
}

int BitLength(const BigNumber *n)
{
    if (n->used == 0)
        return 0;
    int bits = 32 * (n->used - 1);
    for (uint32_t top = n->limb[n->used - 1]; top != 0; top >>= 1)
        ++bits;
    return bits;
}

void ShiftLeft(BigNumber *n, int bits)
{
    if (n->used == 0 || bits == 0)
        return;
    const int limbs = bits / 32;
    const int rest = bits % 32;
    n->limb[n->used + limbs] = 0;
    for (int i = n->used - 1; i >= 0; --i) {
        const uint64_t wide = static_cast<uint64_t>(n->limb[i]) << rest;
        n->limb[i + limbs + 1] |= static_cast<uint32_t>(wide >> 32);
        n->limb[i + limbs] = static_cast<uint32_t>(wide);
    }
    for (int i = 0; i < limbs; ++i)
        n->limb[i] = 0;
    n->used += limbs + 1;
    while (n->used > 0 && n->limb[n->used - 1] == 0)
        --n->used;
}

int Compare(const BigNumber *a, const BigNumber *b)
{
    if (a->used != b->used)
        return a->used < b->used ? -1 : 1;
    for (int i = a->used - 1; i >= 0; --i) {
        if (a->limb[i] != b->limb[i])
            return a->limb[i] < b->limb[i] ? -1 : 1;
    }
    return 0;
}

// a = a - b, where b <= a
void Subtract(BigNumber *a, const BigNumber *b)
{
    uint32_t borrow = 0;
    for (int i = 0; i < a->used; ++i) {
        const uint64_t taken = static_cast<uint64_t>(i < b->used ? b->limb[i] : 0) + borrow;
        borrow = a->limb[i] < taken;
        a->limb[i] = static_cast<uint32_t>(a->limb[i] - taken);
    }
    while (a->used > 0 && a->limb[a->used - 1] == 0)
        --a->used;
}

double FromBits(uint64_t bits)
{
    double value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

// The double nearest to quotient * 2^(exponent - 63), where the quotient's
// top bit is set and `inexact` tells that more non-zero bits followed.
double Round(uint64_t quotient, int inexact, long exponent)
{
    if (exponent > 1023)
        return HUGE_VAL;
    // 11 bits fall away from a normal number; more from a subnormal one.
    const long dropped = exponent >= -1022 ? 11 : 11 + (-1022 - exponent);
    if (dropped > 64)
        return 0.0;  // below half the smallest subnormal
    const uint64_t kept = dropped == 64 ? 0 : quotient >> dropped;
    const uint64_t rest = dropped == 64 ? quotient : quotient & ((uint64_t(1) << dropped) - 1);
    const uint64_t half = uint64_t(1) << (dropped - 1);
    const int up = rest > half || (rest == half && (inexact || (kept & 1)));
    const uint64_t mantissa = kept + up;
    // Added rather than or-ed: a mantissa that rounded up to the next power
    // of two carries into the exponent, up to infinity, as it should; a
    // subnormal one that did so becomes the smallest normal number.
    if (exponent >= -1022)
        return FromBits((static_cast<uint64_t>(exponent + 1022) << 52) + mantissa);
    return FromBits(mantissa);
}

}  // namespace

double DecimalToDouble(const char *digits, int count, long exponent)
{
    if (count <= 0 || count > DECIMAL_DIGITS_KEPT + 1)
        return 0.0;
    if (count + exponent > kLargestDecade)
        return HUGE_VAL;
    if (count + exponent < kSmallestDecade)
        return 0.0;

    BigNumber num;
    BigNumber den;
    SetSmall(&num, 0);
    SetSmall(&den, 1);
    // Nine digits at a time: 10^9 still fits a limb.
    for (int i = 0; i < count;) {
        uint32_t chunk = 0;
        uint32_t scale = 1;
        for (int end = i + 9 < count ? i + 9 : count; i < end; ++i) {
            chunk = chunk * 10 + static_cast<uint32_t>(digits[i] - '0');
            scale *= 10;
        }
        MultiplyAdd(&num, scale, chunk);
    }
    if (num.used == 0)
        return 0.0;
    if (exponent >= 0)
        MultiplyByPowerOfTen(&num, exponent);
    else
        MultiplyByPowerOfTen(&den, -exponent);

    // Scale to den <= num < 2 den; the value is then num / den * 2^binary.
    long binary = BitLength(&num) - BitLength(&den);
    if (binary > 0)
        ShiftLeft(&den, static_cast<int>(binary));
    else
        ShiftLeft(&num, static_cast<int>(-binary));
    if (Compare(&num, &den) < 0) {
        ShiftLeft(&num, 1);
        --binary;
    }

    uint64_t quotient = 0;
    for (int bit = 0; bit < 64; ++bit) {
        quotient <<= 1;
        if (Compare(&num, &den) >= 0) {
            Subtract(&num, &den);
            quotient |= 1;
        }
        ShiftLeft(&num, 1);
    }
    return Round(quotient, num.used != 0, binary);
}
