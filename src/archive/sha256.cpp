/* SHA-256 as FIPS 180-4 defines it (sections 4.1.2, 4.2.2, 5.1.1, 5.3.3 and 6.2). */
#include "sha256.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

inline uint32_t rotateRight(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

void compress(std::array<uint32_t, 8> &state, const uint8_t *block)
{
    uint32_t w[64];
    for (int t = 0; t < 16; t++)
        w[t] = uint32_t(block[4 * t]) << 24 | uint32_t(block[4 * t + 1]) << 16 |
               uint32_t(block[4 * t + 2]) << 8 | block[4 * t + 3];
    for (int t = 16; t < 64; t++) {
        uint32_t s0 = rotateRight(w[t - 15], 7) ^ rotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
        uint32_t s1 = rotateRight(w[t - 2], 17) ^ rotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; t++) {
        uint32_t sum1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
        uint32_t choose = (e & f) ^ (~e & g);
        uint32_t t1 = h + sum1 + choose + kRoundConstants[t] + w[t];
        uint32_t sum0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
        uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        uint32_t t2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a; state[1] += b; state[2] += c; state[3] += d;
    state[4] += e; state[5] += f; state[6] += g; state[7] += h;
}

}  // namespace

void sha256Start(Sha256 &hash)
{
    std::memcpy(hash.state.data(), kInitialState, sizeof kInitialState);
    hash.length = 0;
    hash.block.fill(0);
}

void sha256Add(Sha256 &hash, const void *data, size_t length)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    size_t held = size_t(hash.length % 64);
    hash.length += length;
    if (held > 0) {
        size_t take = length < 64 - held ? length : 64 - held;
        std::memcpy(hash.block.data() + held, bytes, take);
        bytes += take;
        length -= take;
        if (held + take < 64)
            return;
        compress(hash.state, hash.block.data());
    }
    for (; length >= 64; bytes += 64, length -= 64)
        compress(hash.state, bytes);
    std::memcpy(hash.block.data(), bytes, length);
}

std::array<uint8_t, 32> sha256Digest(const Sha256 &hash)
{
    /* Padding: a 1 bit, zeros up to 56 bytes into the last block, the length in bits. */
    Sha256 last = hash;
    const uint64_t bits = hash.length * 8;
    uint8_t padding[72] = {0x80};
    size_t held = size_t(hash.length % 64);
    size_t padLength = (held < 56 ? 56 : 120) - held;
    for (int i = 0; i < 8; i++)
        padding[padLength + i] = uint8_t(bits >> (56 - 8 * i));
    sha256Add(last, padding, padLength + 8);

    std::array<uint8_t, 32> digest;
    for (int i = 0; i < 8; i++)
        for (int j = 0; j < 4; j++)
            digest[size_t(4 * i + j)] = uint8_t(last.state[size_t(i)] >> (24 - 8 * j));
    return digest;
}

void sha256Text(const Sha256 &hash, char (&text)[kSha256TextSize])
{
    std::array<uint8_t, 32> digest = sha256Digest(hash);
    for (size_t i = 0; i < digest.size(); i++)
        std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
}
