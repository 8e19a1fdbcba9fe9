#include <gtest/gtest.h>

#include "link/file_info_block.h"

using namespace vandry;

TEST(FileInfoBlock, GoldenBytesAndRoundTrip)
{
    FileInfoBlock info;
    info.setDigest("0123456789abcdef0123456789abcdef");
    info.describe(5ull << 32); // beyond 4 GiB
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeFileInfoBlock(info, out);
    ASSERT_EQ(bytes.size(), FileInfoBlock::kSize);
    EXPECT_EQ(bytes[0], '0');
    EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin() + 32, bytes.begin() + 36)),
              (std::vector<std::uint8_t>{0x00, 0xD3, 0xC6, 0x00}));
    EXPECT_EQ(bytes[44], 5); // size high word
    EXPECT_EQ(info.blockCount, 5u << 22);
    ByteReader in(bytes);
    EXPECT_EQ(parseFileInfoBlock(in), info);
    ByteReader shortInput(ByteSpan(bytes).first(55));
    EXPECT_FALSE(parseFileInfoBlock(shortInput));
}

TEST(FileInfoBlock, BlockCountRoundsUp)
{
    EXPECT_EQ(blockCountFor(0), 0u);
    EXPECT_EQ(blockCountFor(1), 1u);
    EXPECT_EQ(blockCountFor(1024), 1u);
    EXPECT_EQ(blockCountFor(1025), 2u);
}
