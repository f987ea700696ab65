/*
 * SHA-256 (FIPS 180-4), fed in pieces of any length as a copy moves its chunks. Windows 2000
 * has no SHA-256 provider, so the program carries its own.
 */
#ifndef KESTROVA_SHA256_H
#define KESTROVA_SHA256_H

#include <array>
#include <cstddef>
#include <cstdint>

struct Sha256 {
    std::array<uint32_t, 8> state;
    uint64_t length;                 /* bytes hashed so far */
    std::array<uint8_t, 64> block;   /* the part of a block not yet hashed */
};

constexpr size_t kSha256TextSize = 65;   /* 64 hexadecimal digits and a NUL */

void sha256Start(Sha256 &hash);
void sha256Add(Sha256 &hash, const void *data, size_t length);
/* The digest of everything added; hash itself is left as it was, so adding can go on. */
std::array<uint8_t, 32> sha256Digest(const Sha256 &hash);
/* The digest in lower-case hexadecimal, as sha256sum prints it. */
void sha256Text(const Sha256 &hash, char (&text)[kSha256TextSize]);

#endif
