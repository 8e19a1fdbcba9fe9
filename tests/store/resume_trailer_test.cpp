#include <gtest/gtest.h>

#include <random>

#include "store/resume_trailer.h"

using namespace vandry;

namespace {

FileInfoBlock infoFor(std::uint64_t size)
{
    FileInfoBlock info;
    info.setDigest("0123456789abcdef0123456789abcdef");
    info.describe(size);
    return info;
}

BlockMap mapOf(std::initializer_list<std::uint32_t> boundaries)
{
    return BlockMap::fromBoundaries(std::vector<std::uint32_t>(boundaries)).value_or(BlockMap{});
}

} // namespace

TEST(ResumeTrailer, GoldenLayoutAndRoundTrip)
{
    const auto info = infoFor(0x01020304ull * 1024);
    const auto trailer = encodeResumeTrailer(info, mapOf({0, 10, 20, 0x01020304}));
    EXPECT_EQ(loadU16le(trailer, 0), 568);
    EXPECT_EQ(loadU16le(trailer, 2), 0);
    EXPECT_EQ((std::vector<std::uint8_t>(trailer.begin() + 4, trailer.begin() + 8)),
              (std::vector<std::uint8_t>{0x00, 0xD3, 0xC6, 0x00}));
    EXPECT_EQ(trailer[8], '0');
    EXPECT_EQ(trailer[39], 'f');
    EXPECT_EQ((std::vector<std::uint8_t>(trailer.begin() + 40, trailer.begin() + 52)),
              (std::vector<std::uint8_t>{0x00, 0x10, 0x0C, 0x08, 0x04, 0, 0, 0, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(loadU16le(trailer, 54), 4);
    EXPECT_EQ((std::vector<std::uint8_t>(trailer.begin() + 68, trailer.begin() + 72)),
              (std::vector<std::uint8_t>{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(trailer[72], 0); // entries beyond the count
    EXPECT_EQ(loadU16le(trailer, 568), 576);
    EXPECT_EQ(trailer[573], 0xD3);

    const auto parsed = parseResumeTrailer(trailer);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->info, info);
    EXPECT_EQ(parsed->map, mapOf({0, 10, 20, 0x01020304}));
}

TEST(ResumeTrailer, InvalidTrailersAreNoTrailer)
{
    const auto good = encodeResumeTrailer(infoFor(102400), mapOf({0, 10}));
    for (std::size_t at : {0u, 4u, 7u, 568u, 572u, 575u}) {
        auto bad = good;
        bad[at] ^= 0x01;
        EXPECT_FALSE(parseResumeTrailer(bad)) << "byte " << at;
    }
    auto wrongCount = good;
    wrongCount[48] = 99;
    EXPECT_FALSE(parseResumeTrailer(wrongCount));
    // A size whose block count needs more than 32 bits.
    EXPECT_FALSE(parseResumeTrailer(encodeResumeTrailer(infoFor(1ull << 42), {})));
    EXPECT_FALSE(parseResumeTrailer(std::span(good).first(575)));
}

TEST(ResumeTrailer, UntrustedMapsReadAsNothingPresent)
{
    const auto base = encodeResumeTrailer(infoFor(102400), mapOf({0, 10, 20, 30}));
    for (std::uint16_t count : {std::uint16_t{0xFFFE}, std::uint16_t{3}}) {
        auto bad = base;
        storeU16le(bad, 54, count);
        ASSERT_TRUE(parseResumeTrailer(bad));
        EXPECT_TRUE(parseResumeTrailer(bad)->map.empty()) << count;
    }
    auto unordered = base;
    unordered[60] = 25; // (0,25),(20,30)
    EXPECT_TRUE(parseResumeTrailer(unordered)->map.empty());
    EXPECT_TRUE(parseResumeTrailer(encodeResumeTrailer(infoFor(10240), mapOf({0, 11})))->map.empty());

    // A count above 128 is capped.
    BlockMap full;
    for (std::uint32_t i = 0; i < 64; ++i)
        full.addRange(2 * i, 2 * i + 1);
    auto capped = encodeResumeTrailer(infoFor(204800), full);
    storeU16le(capped, 54, 200);
    EXPECT_EQ(parseResumeTrailer(capped)->map, full);
}

TEST(ResumeTrailer, PlacementGivesUpBlocksTheTrailerCovers)
{
    // Complete but for block 5, at full size: the last block is given up.
    const auto full = placeTrailer(10240, infoFor(10240), mapOf({0, 5, 6, 10}));
    EXPECT_EQ(full->offset, 10240u - 576);
    EXPECT_EQ(full->map, mapOf({0, 5, 6, 9}));

    // A 24-byte last block: giving up one block is not enough.
    const auto shortLast = placeTrailer(101400, infoFor(101400), mapOf({0, 10, 50, 100}));
    EXPECT_EQ(shortLast->offset, 101400u - 576);
    EXPECT_EQ(shortLast->map, mapOf({0, 10, 50, 98}));

    // Blocks claimed beyond the end of the file are dropped.
    EXPECT_EQ(placeTrailer(4096, infoFor(102400), mapOf({0, 10}))->map, mapOf({0, 4}));
    // No room below the final size in a file this short.
    EXPECT_FALSE(placeTrailer(500, infoFor(1050), mapOf({0, 1})));
}

TEST(ResumeTrailer, PlacementNeverCoversPresentBlocksOrGrowsPastTheSize)
{
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        const std::uint64_t size = 1024 + random() % 200000;
        const auto info = infoFor(size);
        const std::uint64_t length = random() % (size + 1);
        BlockMap map;
        for (int i = 0; i < 6; ++i) {
            const auto a = static_cast<std::uint32_t>(random() % info.blockCount);
            map.addRange(a, std::min(info.blockCount, a + static_cast<std::uint32_t>(random() % 20)));
        }
        const auto placement = placeTrailer(length, info, map);
        if (!placement) {
            EXPECT_LT(length, 576u);
            continue;
        }
        EXPECT_LE(std::uint64_t{placement->map.lastEnd()} * 1024, placement->offset);
        EXPECT_LE(placement->offset + 576, std::max(length, size));
        auto extra = placement->map;
        applyRanges(map, extra, false);
        EXPECT_TRUE(extra.empty()) << "the placement added blocks";
    }
}
