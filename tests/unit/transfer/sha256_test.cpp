/* SHA-256 against the NIST examples (FIPS 180-4 test vectors), whole and fed in pieces. */
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include "sha256.h"

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

}  // namespace
