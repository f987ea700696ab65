/* SHA-256 against the NIST examples (FIPS 180-4 test vectors), whole and fed in pieces. */
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <windows.h>
#include <cstdio>
#include "archive.h"

namespace {

std::string textOf(const Sha256 &hash)
{
    char text[kSha256TextSize];
    sha256Text(hash, text);
    return text;
}

TEST(Sha256, NistVectors)
{
    struct Vector {
        std::string message;
        const char *digest;
    };
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopq"
         "rstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector &v : vectors) {
        SCOPED_TRACE(v.message.substr(0, 20));
        Sha256 whole;
        sha256Start(whole);
        sha256Add(whole, v.message.data(), v.message.size());
        EXPECT_EQ(textOf(whole), v.digest);

        /* The same bytes in pieces that straddle the 64-byte blocks every way. */
        Sha256 pieces;
        sha256Start(pieces);
        size_t at = 0;
        for (size_t piece = 1; at < v.message.size(); piece = piece % 130 + 1) {
            size_t n = std::min(piece, v.message.size() - at);
            sha256Add(pieces, v.message.data() + at, n);
            at += n;
        }
        EXPECT_EQ(textOf(pieces), v.digest);
    }
}

TEST(Sha256, DigestMidwayLetsHashingGoOn)
{
    /* The copy takes the digest of the data, then goes on with the padding for the file's. */
    Sha256 hash;
    sha256Start(hash);
    sha256Add(hash, "abcdbcdecdefdefgefghfghighijhijk", 32);
    sha256Digest(hash);
    sha256Add(hash, "ijkljklmklmnlmnomnopnopq", 24);
    EXPECT_EQ(textOf(hash), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

/* The padding carries the length in bits in 64 bits: 512 MiB are 2^32 bits, the first length
   that a 32-bit count would lose. Fed 1 MiB at a time, as a copy feeds its chunks. */
TEST(Sha256, HalfAGibibyteOfZeros)
{
    const std::string zeros(1 << 20, '\0');
    Sha256 hash;
    sha256Start(hash);
    for (int i = 0; i < 512; i++)
        sha256Add(hash, zeros.data(), zeros.size());
    EXPECT_EQ(textOf(hash), "9acca8e8c22201155389f65abbf6bc9723edc7384ead80503839f49dcc56d767");
}

/* The report's digests of an image read back from its file: none when the reads fail, never the
   digest of the part that could be read. */
TEST(Sha256, DigestsOfAnImageFile)
{
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "dig", 0, path);
    FILE *file = std::fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("abc", file);
    std::fclose(file);
    char data[kSha256TextSize], whole[kSha256TextSize];
    int64_t length = 0;
    file = std::fopen(path, "ab");   /* open, but not for reading */
    EXPECT_FALSE(hashImageFile(file, 2, data, whole, length));
    EXPECT_STREQ(whole, "");
    std::fclose(file);
    file = std::fopen(path, "rb");
    EXPECT_TRUE(hashImageFile(file, 2, data, whole, length));
    std::fclose(file);
    DeleteFileA(path);
    EXPECT_STREQ(data, "fb8e20fc2e4c3f248c60c39bd652f3c1347298bb977b8b4d5903b85055620603");   /* "ab" */
    EXPECT_STREQ(whole, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");  /* "abc" */
    EXPECT_EQ(length, 3);
}

}  // namespace
