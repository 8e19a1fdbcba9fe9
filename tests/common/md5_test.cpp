#include <gtest/gtest.h>

#include <string>

#include "common/hex.h"
#include "common/md5.h"

using namespace vandry;

namespace {
std::string md5Hex(const std::string& text)
{
    return hexEncode(md5(asBytes(text)));
}
} // namespace

TEST(Md5, Rfc1321TestSuite)
{
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, UpdatesInUnevenChunksMatchOneShot)
{
    // One million 'a's fed in pieces that straddle block boundaries and the padding cut at 56.
    const std::string million(1000000, 'a');
    const ByteSpan all = asBytes(million);
    Md5 hash;
    std::size_t at = 0;
    for (std::size_t piece : {0u, 1u, 55u, 8u, 63u, 64u, 65u, 127u}) {
        hash.update(all.subspan(at, piece));
        at += piece;
    }
    while (at < all.size()) {
        const std::size_t piece = std::min<std::size_t>(1000, all.size() - at);
        hash.update(all.subspan(at, piece));
        at += piece;
    }
    EXPECT_EQ(hexEncode(hash.finish()), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, FinishStartsOver)
{
    Md5 hash;
    hash.update(asBytes(std::string("something else")));
    hash.finish();
    hash.update(asBytes(std::string("abc")));
    EXPECT_EQ(hexEncode(hash.finish()), "900150983cd24fb0d6963f7d28e17f72");
}
