#include "ed25519.h"

#include <stdint.h>
#include <string.h>

// Numbers modulo p = 2^255 - 19 as 16 limbs of 16 bits, lowest first, each
// held in 64 bits so that products can be summed before they are carried.
// Limbs may be negative or a little over 16 bits between operations; only
// Pack produces the one canonical value.
//
// Bounds: Unpack gives limbs in [0, 2^16); FieldMul's result, carried twice,
// has limbs in [-38, 2^16 + 38). A factor is at most four such values added
// or subtracted (2 z1 z2 + 2 d t1 t2 in PointAdd), so its limbs stay below
// 2^18 + 152 < 2^19 in magnitude: each fits in 32 bits (one widening
// multiply on i686), a product is below 2^38, and a column of products with
// the upper columns folded in times 38 (at most 1 + 38 * 15 < 2^10 products'
// worth) stays below 2^48.
typedef int64_t Field[16];

struct Point {
    Field x, y, z, t;  // extended coordinates: x/z, y/z and xy = t/z
};

// The curve's d = -121665/121666 and the root of -1 used in decoding,
// 2^((p - 1)/4), both mod p, little-endian.
static const unsigned char kCurveD[32] = {
    0xa3, 0x78, 0x59, 0x13, 0xca, 0x4d, 0xeb, 0x75, 0xab, 0xd8, 0x41, 0x41, 0x4d, 0x0a, 0x70, 0x00,
    0x98, 0xe8, 0x79, 0x77, 0x79, 0x40, 0xc7, 0x8c, 0x73, 0xfe, 0x6f, 0x2b, 0xee, 0x6c, 0x03, 0x52};
static const unsigned char kRootOfMinusOne[32] = {
    0xb0, 0xa0, 0x0e, 0x4a, 0x27, 0x1b, 0xee, 0xc4, 0x78, 0xe4, 0x2f, 0xad, 0x06, 0x18, 0x43, 0x2f,
    0xa7, 0xd7, 0xfb, 0x3d, 0x99, 0x00, 0x4d, 0x2b, 0x0b, 0xdf, 0xc1, 0x4f, 0x80, 0x24, 0x83, 0x2b};
// The group order L = 2^252 + 27742317777372353535851937790883648493.
static const unsigned char kOrder[32] = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};

// Leaves limbs 1..15 in [0, 2^16) and moves the excess into limb 0, as
// 2^256 = 38 mod p. The shift rounds down, so negative limbs borrow.
static void Carry(Field a)
{
    for (int i = 0; i < 16; ++i) {
        const int64_t carry = a[i] >> 16;
        a[i] &= 0xffff;
        a[(i + 1) & 15] += carry * (i == 15 ? 38 : 1);
    }
}

static void FieldMul(Field out, const Field a, const Field b)
{
    int64_t column[31] = {0};
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            column[i + j] += (int64_t)(int32_t)a[i] * (int32_t)b[j];
    for (int i = 0; i < 15; ++i)
        column[i] += 38 * column[i + 16];
    memcpy(out, column, sizeof(Field));
    // The first pass leaves limb 0 below 2^40 in magnitude; the second
    // carries at most 1 out of limb 15, so limb 0 ends in [-38, 2^16 + 38).
    Carry(out);
    Carry(out);
}

// Formulas as data: each step is one product, sum or difference of two of
// a formula's numbered registers, written to a third. Spelled out as calls,
// the formulas below took half as much code again.
enum { kMul, kAdd, kSub };
#define STEP(op, out, a, b) (uint16_t)((op) << 12 | (out) << 8 | (a) << 4 | (b))

static void Run(Field *r, const uint16_t *steps, int count)
{
    for (; count > 0; --count, ++steps) {
        const unsigned op = *steps >> 12;
        int64_t *out = r[*steps >> 8 & 15];
        const int64_t *a = r[*steps >> 4 & 15], *b = r[*steps & 15];
        if (op == kMul) {
            FieldMul(out, a, b);
            continue;
        }
        for (int i = 0; i < 16; ++i)
            out[i] = a[i] + (op == kAdd ? b[i] : -b[i]);
    }
}

static void Negate(Field a)
{
    for (int i = 0; i < 16; ++i)
        a[i] = -a[i];
}

// base^(2^bits - 1 - holes), holes a mask below 2^5: each exponent needed
// here is a run of ones with a few low zeros (p - 2 = 2^255 - 21 and
// (p - 5)/8 = 2^252 - 3). Square-and-multiply is not the shortest chain but
// the shortest code.
static void FieldPower(Field out, const Field base, int bits, unsigned holes)
{
    Field result;
    memcpy(result, base, sizeof result);
    for (int i = bits - 2; i >= 0; --i) {
        FieldMul(result, result, result);
        if (i >= 5 || !((holes >> i) & 1))
            FieldMul(result, result, base);
    }
    memcpy(out, result, sizeof result);
}

static void Unpack(Field out, const unsigned char in[32])
{
    for (int i = 0; i < 16; ++i)
        out[i] = in[2 * i] + 256 * in[2 * i + 1];
    out[15] &= 0x7fff;
}

// Subtracts m from n unless n is below m, for 256-bit little-endian
// numbers; says whether it was below.
static int SubtractUnlessBelow(unsigned char n[32], const unsigned char m[32])
{
    unsigned char less[32];
    int borrow = 0;
    for (int i = 0; i < 32; ++i) {
        const int difference = n[i] - m[i] - borrow;
        less[i] = (unsigned char)difference;
        borrow = (difference >> 8) & 1;
    }
    if (!borrow)
        memcpy(n, less, 32);
    return borrow;
}

static void Pack(unsigned char out[32], const Field a)
{
    Field value;
    unsigned char p[32];
    memcpy(value, a, sizeof value);
    // Three passes take any value this code makes to limbs in [0, 2^16),
    // that is to [0, 2^256) = [0, 2p + 38): at most two subtractions of p
    // remain.
    for (int pass = 0; pass < 3; ++pass)
        Carry(value);
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = (unsigned char)value[i];
        out[2 * i + 1] = (unsigned char)(value[i] >> 8);
    }
    memset(p, 0xff, sizeof p);
    p[0] = 0xed;
    p[31] = 0x7f;
    SubtractUnlessBelow(out, p);
    SubtractUnlessBelow(out, p);
}

static int FieldIsZero(const Field a)
{
    unsigned char bytes[32];
    Pack(bytes, a);
    int any = 0;
    for (int i = 0; i < 32; ++i)
        any |= bytes[i];
    return any == 0;
}

// One formula for every sum, doubling included: on this curve it holds for
// all pairs of points, those of small order too. Registers: 0-3 the first
// point (x, y, z, t), 4-7 the second, 8 d, 9-13 scratch; the sum ends in 0-3.
static const uint16_t kAddSteps[] = {
    STEP(kSub, 9, 1, 0),    STEP(kSub, 10, 5, 4),  STEP(kMul, 9, 9, 10),    // A = (y1 - x1)(y2 - x2)
    STEP(kAdd, 10, 1, 0),   STEP(kAdd, 11, 5, 4),  STEP(kMul, 10, 10, 11),  // B = (y1 + x1)(y2 + x2)
    STEP(kMul, 11, 3, 7),   STEP(kMul, 11, 11, 8), STEP(kAdd, 11, 11, 11),  // C = 2 d t1 t2
    STEP(kMul, 12, 2, 6),   STEP(kAdd, 12, 12, 12),                         // D = 2 z1 z2
    STEP(kSub, 13, 10, 9),  STEP(kAdd, 10, 10, 9),                          // E = B - A, H = B + A
    STEP(kSub, 9, 12, 11),  STEP(kAdd, 12, 12, 11),                         // F = D - C, G = D + C
    STEP(kMul, 0, 13, 9),   STEP(kMul, 1, 12, 10),                          // x = E F, y = G H
    STEP(kMul, 2, 9, 12),   STEP(kMul, 3, 13, 10),                          // z = F G, t = E H
};

static void PointAdd(Point *out, const Point *a, const Point *b)
{
    Field r[14];
    memcpy(r[0], a, sizeof *a);
    memcpy(r[4], b, sizeof *b);
    Unpack(r[8], kCurveD);
    Run(r, kAddSteps, sizeof kAddSteps / sizeof kAddSteps[0]);
    memcpy(out, r[0], sizeof *out);
}

// x = u v^3 (u v^7)^((p - 5)/8) with u = y^2 - 1 and v = d y^2 + 1 squares
// to u/v or -u/v if u/v has a root at all. Registers: 0-3 the point (x, y,
// z = 1, t), 4 d, 5 u, 6 v, 7 u v^7 and then its power, 8 u v^3,
// 9 v x^2 - u, 10 v x^2 + u.
static const uint16_t kRootSteps[] = {
    STEP(kMul, 5, 1, 1), STEP(kMul, 6, 5, 4), STEP(kSub, 5, 5, 2), STEP(kAdd, 6, 6, 2),
    STEP(kMul, 7, 6, 6), STEP(kMul, 7, 7, 6), STEP(kMul, 8, 7, 5),  // u v^3
    STEP(kMul, 7, 7, 7), STEP(kMul, 7, 7, 6), STEP(kMul, 7, 7, 5),  // u v^7
};
static const uint16_t kRootCheckSteps[] = {
    STEP(kMul, 0, 7, 8), STEP(kMul, 7, 0, 0), STEP(kMul, 7, 7, 6), STEP(kSub, 9, 7, 5), STEP(kAdd, 10, 7, 5),
};

// The point whose encoding this is, or 0 when it is none: y must be below p,
// x^2 = (y^2 - 1)/(d y^2 + 1) must have a root, and x = 0 cannot carry a
// set sign bit.
static int Decode(Point *point, const unsigned char in[32])
{
    unsigned char check[32];
    Field r[11] = {{0}, {0}, {1}};
    Unpack(r[1], in);
    Pack(check, r[1]);
    check[31] |= in[31] & 0x80;
    if (memcmp(check, in, 32) != 0)
        return 0;
    Unpack(r[4], kCurveD);
    Run(r, kRootSteps, sizeof kRootSteps / sizeof kRootSteps[0]);
    FieldPower(r[7], r[7], 252, 2);
    Run(r, kRootCheckSteps, sizeof kRootCheckSteps / sizeof kRootCheckSteps[0]);
    if (!FieldIsZero(r[9])) {
        if (!FieldIsZero(r[10]))
            return 0;
        Unpack(r[9], kRootOfMinusOne);
        FieldMul(r[0], r[0], r[9]);
    }
    Pack(check, r[0]);
    if ((check[0] & 1) != in[31] >> 7) {
        if (FieldIsZero(r[0]))
            return 0;
        Negate(r[0]);
    }
    FieldMul(r[3], r[0], r[1]);
    memcpy(point, r, sizeof *point);
    return 1;
}

static void Encode(unsigned char out[32], const Point *point)
{
    Field inverse, coordinate;
    unsigned char x[32];
    FieldPower(inverse, point->z, 255, 0x14);
    FieldMul(coordinate, point->x, inverse);
    Pack(x, coordinate);
    FieldMul(coordinate, point->y, inverse);
    Pack(out, coordinate);
    out[31] = (unsigned char)(out[31] | (x[0] & 1) << 7);
}

// A 512-bit little-endian number mod L, a bit at a time from the top: slow
// by the standards of the rest (a few tens of thousands of byte steps) but
// a handful of instructions. The hash must be reduced, not used whole: for a
// key with a component of small order, [k]A and [k mod L]A differ.
static void ReduceModOrder(unsigned char out[32], const unsigned char wide[64])
{
    memset(out, 0, 32);
    for (int bit = 511; bit >= 0; --bit) {
        int carry = (wide[bit >> 3] >> (bit & 7)) & 1;
        for (int i = 0; i < 32; ++i) {
            const int doubled = out[i] * 2 + carry;
            out[i] = (unsigned char)doubled;
            carry = doubled >> 8;
        }
        SubtractUnlessBelow(out, kOrder);
    }
}

void Ed25519CheckBegin(Ed25519Check *check, const unsigned char signature[ED25519_SIGNATURE_SIZE],
                       const unsigned char key[ED25519_KEY_SIZE])
{
    memcpy(check->signature, signature, ED25519_SIGNATURE_SIZE);
    memcpy(check->key, key, ED25519_KEY_SIZE);
    Sha512Begin(&check->hash);
    Sha512Add(&check->hash, signature, 32);
    Sha512Add(&check->hash, key, ED25519_KEY_SIZE);
}

void Ed25519CheckAdd(Ed25519Check *check, const void *data, size_t size)
{
    Sha512Add(&check->hash, data, size);
}

int Ed25519CheckEnd(Ed25519Check *check)
{
    unsigned char digest[SHA512_DIGEST_SIZE], k[32], s[32], base[32];
    Point table[3], sum;
    Sha512End(&check->hash, digest);
    ReduceModOrder(k, digest);
    memcpy(s, check->signature + 32, 32);
    if (!SubtractUnlessBelow(s, kOrder))
        return 0;
    // The base point: y = 4/5, whose encoding is 0x58 and then 31 bytes of
    // 0x66, and the even x.
    memset(base, 0x66, sizeof base);
    base[0] = 0x58;
    if (!Decode(&table[0], base) || !Decode(&table[1], check->key))
        return 0;
    Negate(table[1].x);
    Negate(table[1].t);
    PointAdd(&table[2], &table[0], &table[1]);
    memset(&sum, 0, sizeof sum);
    // [S]B + [k](-A), both scalars below L < 2^253, their bits taken
    // together (B, -A or B - A) on one chain of doublings.
    sum.y[0] = 1;
    sum.z[0] = 1;
    for (int bit = 252; bit >= 0; --bit) {
        PointAdd(&sum, &sum, &sum);
        const int pick = ((s[bit >> 3] >> (bit & 7)) & 1) | ((k[bit >> 3] >> (bit & 7)) & 1) * 2;
        if (pick)
            PointAdd(&sum, &sum, &table[pick - 1]);
    }
    // Encode gives only canonical encodings, so this comparison also
    // refuses an R that encodes its point in a non-canonical way.
    Encode(base, &sum);
    return memcmp(base, check->signature, 32) == 0;
}

int Ed25519Verify(const unsigned char signature[ED25519_SIGNATURE_SIZE],
                  const unsigned char key[ED25519_KEY_SIZE], const void *message, size_t size)
{
    Ed25519Check check;
    Ed25519CheckBegin(&check, signature, key);
    Ed25519CheckAdd(&check, message, size);
    return Ed25519CheckEnd(&check);
}

int Ed25519IsPoint(const unsigned char encoding[32])
{
    Point point;
    return Decode(&point, encoding);
}
