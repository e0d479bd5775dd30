// Times the update signature check: reads a message, its 64-byte signature
// and the 32-byte raw key, checks the signature RUNS times with the message
// added in pieces of 64 KiB, as a file read in chunks would be, and prints
// the verdict and the time of one check.
//
//   verify_bench.exe MESSAGE SIGNATURE KEY [RUNS]
//   Exit code 0 verified, 1 refused, 2 the files could not be read.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "signature/ed25519.h"

#define PIECE (64 * 1024)
#define MAX_RUNS 101

// The whole file, or NULL; its size must be `expected` unless that is 0.
static unsigned char *ReadWhole(const char *path, long expected, long *size)
{
    FILE *file = fopen(path, "rb");
    if (file == NULL)
        return NULL;
    unsigned char *bytes = NULL;
    if (fseek(file, 0, SEEK_END) == 0 && (*size = ftell(file)) >= 0 && (expected == 0 || *size == expected) &&
        fseek(file, 0, SEEK_SET) == 0) {
        bytes = (unsigned char *)malloc((size_t)*size + 1);
        if (bytes != NULL && fread(bytes, 1, (size_t)*size, file) != (size_t)*size) {
            free(bytes);
            bytes = NULL;
        }
    }
    fclose(file);
    return bytes;
}

static int CompareDoubles(const void *a, const void *b)
{
    const double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: verify_bench MESSAGE SIGNATURE KEY [RUNS]\n");
        return 2;
    }
    long messageSize = 0, signatureSize = 0, keySize = 0;
    unsigned char *message = ReadWhole(argv[1], 0, &messageSize);
    unsigned char *signature = ReadWhole(argv[2], ED25519_SIGNATURE_SIZE, &signatureSize);
    unsigned char *key = ReadWhole(argv[3], ED25519_KEY_SIZE, &keySize);
    if (message == NULL || signature == NULL || key == NULL) {
        fprintf(stderr, "verify_bench: cannot read the message, a 64-byte signature and a 32-byte key\n");
        return 2;
    }
    int runs = argc > 4 ? atoi(argv[4]) : 21;
    if (runs < 1 || runs > MAX_RUNS)
        runs = 21;

    // LARGE_INTEGER is a 64-bit integer in a union; read it as one.
    LONGLONG frequency, start, end;
    QueryPerformanceFrequency((LARGE_INTEGER *)&frequency);
    double milliseconds[MAX_RUNS];
    int verified = 1;
    for (int run = 0; run < runs; ++run) {
        QueryPerformanceCounter((LARGE_INTEGER *)&start);
        Ed25519Check check;
        Ed25519CheckBegin(&check, signature, key);
        for (long at = 0; at < messageSize; at += PIECE)
            Ed25519CheckAdd(&check, message + at, (size_t)(messageSize - at < PIECE ? messageSize - at : PIECE));
        verified &= Ed25519CheckEnd(&check);
        QueryPerformanceCounter((LARGE_INTEGER *)&end);
        milliseconds[run] = 1000.0 * (double)(end - start) / (double)frequency;
    }
    qsort(milliseconds, (size_t)runs, sizeof milliseconds[0], CompareDoubles);
    printf("%s: %ld bytes, %d runs, min %.2f ms, median %.2f ms\n", verified ? "verified" : "refused",
           messageSize, runs, milliseconds[0], milliseconds[runs / 2]);
    free(message);
    free(signature);
    free(key);
    return verified ? 0 : 1;
}
