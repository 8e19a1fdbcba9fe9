#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "link/block_map.h"

using namespace vandry;

namespace {

BlockMap mapOf(std::initializer_list<std::uint32_t> boundaries)
{
    const auto map = BlockMap::fromBoundaries(std::vector<std::uint32_t>(boundaries));
    EXPECT_TRUE(map.has_value());
    return map.value_or(BlockMap{});
}

std::vector<bool> blocksOf(const BlockMap& map, std::uint32_t blocks)
{
    std::vector<bool> held(blocks);
    for (std::size_t i = 0; i < map.rangeCount(); ++i)
        for (auto k = map.range(i).start; k < map.range(i).end; ++k)
            held[k] = true;
    return held;
}

void expectCanonical(const BlockMap& map)
{
    ASSERT_LE(map.count(), BlockMap::kCapacity);
    ASSERT_TRUE(BlockMap::fromBoundaries(map.boundaries()).has_value());
}

// A map of `ranges` one-block ranges two blocks apart: (0,1),(2,3),...
BlockMap comb(std::uint32_t ranges)
{
    BlockMap map;
    for (std::uint32_t i = 0; i < ranges; ++i)
        map.addRange(2 * i, 2 * i + 1);
    return map;
}

} // namespace

TEST(BlockMap, RandomOperationsMatchASetOfBlocks)
{
    constexpr std::uint32_t kBlocks = 1000;
    std::mt19937 random(20240611);
    BlockMap map;
    std::vector<bool> model(kBlocks);
    int refusedAdds = 0;
    int refusedSubtracts = 0;
    for (int step = 0; step < 10000; ++step) {
        const std::uint32_t a = random() % kBlocks;
        const auto length = static_cast<std::uint32_t>(random() % (step % 50 == 0 ? 300 : 4));
        const std::uint32_t b = std::min(kBlocks, a + length);
        const bool add = random() % 2 == 0;
        auto exact = model;
        for (auto k = a; k < b; ++k)
            exact[k] = add;
        const bool done = add ? map.addRange(a, b) : map.subtractRange(a, b);
        expectCanonical(map);
        const auto held = blocksOf(map, kBlocks);
        if (done) {
            ASSERT_EQ(held, exact) << "step " << step;
        } else {
            ++(add ? refusedAdds : refusedSubtracts);
            for (std::uint32_t k = 0; k < kBlocks; ++k)
                ASSERT_TRUE(!held[k] || exact[k]) << "claims block " << k << " at step " << step;
        }
        model = held;
        ASSERT_EQ(map.countBlocks(), static_cast<std::uint64_t>(std::count(model.begin(), model.end(), true)));
    }
    EXPECT_GT(refusedAdds, 10) << "the capacity was rarely reached";
    EXPECT_GT(refusedSubtracts, 10);
}

TEST(BlockMap, AddMergesTouchingAndBridgedRanges)
{
    auto map = mapOf({0, 5});
    map.addRange(5, 8);
    EXPECT_EQ(map, mapOf({0, 8}));
    map.addRange(10, 12);
    map.addRange(9, 9); // empty: no effect
    EXPECT_EQ(map, mapOf({0, 8, 10, 12}));
    map.addRange(3, 11); // bridges both
    EXPECT_EQ(map, mapOf({0, 12}));
    map.addRange(2, 6); // inside
    EXPECT_EQ(map, mapOf({0, 12}));
    map.addRange(20, 30);
    map.addRange(12, 20); // fills the gap exactly
    EXPECT_EQ(map, mapOf({0, 30}));
    EXPECT_TRUE(map.isWhole(30));
    EXPECT_FALSE(map.isWhole(31));
}

TEST(BlockMap, SubtractSplitsTrimsAndRemoves)
{
    auto map = mapOf({0, 10});
    map.subtractRange(3, 6);
    EXPECT_EQ(map, mapOf({0, 3, 6, 10}));
    map.subtractRange(6, 10); // exactly a whole range
    EXPECT_EQ(map, mapOf({0, 3}));
    map.subtractRange(5, 9); // in a gap
    EXPECT_EQ(map, mapOf({0, 3}));
    map.addRange(20, 30);
    map.subtractRange(2, 25); // across a gap
    EXPECT_EQ(map, mapOf({0, 2, 25, 30}));
    map.subtractRange(0, 0xFFFFFFFF);
    EXPECT_TRUE(map.empty());
}

TEST(BlockMap, FullMapNeverGrowsPastCapacityOrClaimsMore)
{
    auto full = comb(64);
    ASSERT_EQ(full.count(), 128u);

    auto map = full;
    EXPECT_FALSE(map.addRange(200, 201)); // would need a new range
    EXPECT_EQ(map, full);
    EXPECT_TRUE(map.addRange(1, 2)); // bridges two ranges: no room needed
    EXPECT_EQ(map.count(), 126u);

    map = comb(63);
    map.addRange(200, 210);
    ASSERT_EQ(map.count(), 128u);
    EXPECT_FALSE(map.subtractRange(203, 205)); // a split that does not fit
    EXPECT_EQ(map.range(63), (BlockRange{200, 203}));
    EXPECT_EQ(map.count(), 128u);
}

TEST(BlockMap, ApplyRanges)
{
    auto target = mapOf({0, 100});
    applyRanges(mapOf({10, 20, 30, 40}), target, false);
    EXPECT_EQ(target, mapOf({0, 10, 20, 30, 40, 100}));
    applyRanges(mapOf({5, 20, 25, 40}), target, true); // touching ranges merge
    EXPECT_EQ(target, mapOf({0, 100}));

    // Stops once the target holds more than 126 boundaries.
    target = comb(63);
    applyRanges(mapOf({300, 301, 400, 401}), target, true);
    EXPECT_EQ(target.count(), 128u);
    EXPECT_EQ(target.lastEnd(), 301u);
}

TEST(BlockMap, SubtractingFromAFullTargetRunsToTheEnd)
{
    auto target = comb(64);
    ASSERT_EQ(target.count(), 128u);
    const auto source = target;
    applyRanges(source, target, false);
    EXPECT_TRUE(target.empty());
}

TEST(BlockMap, RunsAndRoomForARange)
{
    const auto map = mapOf({10, 20, 30, 40});
    EXPECT_EQ(map.runFrom(10), 10u);
    EXPECT_EQ(map.runFrom(19), 1u);
    EXPECT_EQ(map.runFrom(20), 0u);
    EXPECT_EQ(map.runFrom(5), 0u);
    const auto full = comb(64);
    EXPECT_TRUE(full.canAdd(full.lastEnd(), full.lastEnd() + 5)); // extends a range
    EXPECT_TRUE(full.canAdd(1, 2));                               // bridges two
    EXPECT_FALSE(full.canAdd(full.lastEnd() + 1, full.lastEnd() + 2));
    EXPECT_TRUE(mapOf({0, 1}).canAdd(5, 6));
}

TEST(BlockMap, WireFormGoldenBytesAndRoundTrip)
{
    const auto map = mapOf({1, 0x0A0B0C0D});
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeBlockMap(map, out);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(parseBlockMap(bytes, MapInput::Exact), map);
    EXPECT_EQ(parseBlockMap({}, MapInput::Exact), BlockMap{});
}

TEST(BlockMap, ParseRefusesMalformedMaps)
{
    const auto encode = [](std::initializer_list<std::uint32_t> entries) {
        std::vector<std::uint8_t> bytes;
        ByteWriter out(bytes);
        for (auto e : entries)
            out.u32le(e);
        return bytes;
    };
    EXPECT_FALSE(parseBlockMap(encode({4}), MapInput::Exact));            // odd count
    EXPECT_FALSE(parseBlockMap(encode({5, 3}), MapInput::Exact));         // start above end
    EXPECT_FALSE(parseBlockMap(encode({3, 3}), MapInput::Exact));         // empty range
    EXPECT_FALSE(parseBlockMap(encode({0, 5, 4, 8}), MapInput::Exact));   // overlapping
    EXPECT_FALSE(parseBlockMap(encode({0, 5, 5, 8}), MapInput::Exact));   // adjacent
    EXPECT_FALSE(parseBlockMap(encode({10, 20, 0, 5}), MapInput::Exact)); // unsorted
    auto trailing = encode({0, 5});
    trailing.resize(10); // two stray bytes after the last whole entry
    EXPECT_FALSE(parseBlockMap(trailing, MapInput::Exact));
    EXPECT_EQ(parseBlockMap(trailing, MapInput::CutAtCapacity), mapOf({0, 5}));
}

TEST(BlockMap, PeerMapsAreCutAt128Entries)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    for (std::uint32_t i = 0; i < 130; ++i)
        out.u32le(i * 3);
    EXPECT_FALSE(parseBlockMap(bytes, MapInput::Exact));
    const auto cut = parseBlockMap(bytes, MapInput::CutAtCapacity);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->count(), 128u);
    EXPECT_EQ(cut->lastEnd(), 127u * 3);
    EXPECT_TRUE(cut->withinBlocks(381));
    EXPECT_FALSE(cut->withinBlocks(380));
}
