// The scheduler and the block exchange, driven directly on file streams that share one entry.

#include <gtest/gtest.h>

#include <memory>

#include "link/block_exchange.h"
#include "link/segment_scheduler.h"
#include "scratch_folder.h"
#include "store/resume_store.h"
#include "stream_list.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes mapPayload(std::initializer_list<std::uint32_t> boundaries)
{
    Bytes bytes;
    ByteWriter out(bytes);
    for (auto boundary : boundaries)
        out.u32le(boundary);
    return bytes;
}

class SchedulerTest : public ::testing::Test {
protected:
    // A writer of the shared file; `sharer` tells apart the copies links fetch from.
    ScheduledLink writer(std::uint8_t sharer, std::uint64_t size = 100 * 1024)
    {
        FileStream& stream = list.add(table);
        FileInfoBlock info;
        info.setDigest("00112233445566778899aabbccddeeff");
        info.describe(size);
        EXPECT_EQ(stream.open(scratch.file("shared.bin"), info, true, HostIdentity{1}), OpenResult::Ok);
        HostIdentity id{};
        id[0] = sharer;
        return {&stream, id, LinkIndex{static_cast<std::uint16_t>(links++)}};
    }
    static FetchRange& range(const ScheduledLink& link) { return link.stream->range(); }
    static ScheduleOutcome schedule(const ScheduledLink& self, std::vector<ScheduledLink> others, const Bytes& map)
    {
        return scheduleSegment(self, others, map);
    }

    ScratchFolder scratch;
    ResumeStore resume{scratch.path() / "resume"};
    StreamTable table{resume};
    StreamList list;
    int links = 1;
};

TEST_F(SchedulerTest, TakesTheFirstRangeNobodyHoldsAndCutsLongOnes)
{
    const auto self = writer(1, std::uint64_t{200000} * 1024);
    const auto other = writer(2, std::uint64_t{200000} * 1024);
    self.stream->entry()->map.addRange(0, 10);
    range(other) = {10, 50, 10};
    EXPECT_EQ(schedule(self, {other}, mapPayload({0, 65586})).result, ScheduleResult::Fetch);
    // [50, 65586) is 65536 blocks long: not cut.
    EXPECT_EQ(range(self).start, 50u);
    EXPECT_EQ(range(self).end, 65586u);
    EXPECT_EQ(range(self).position, 50u);

    EXPECT_EQ(schedule(self, {other}, mapPayload({0, 65587})).result, ScheduleResult::Fetch);
    EXPECT_EQ(range(self).end, 50u + 32768u);
}

TEST_F(SchedulerTest, SecondLinkToTheSameSharerSplitsTheBusiestRangeAtItsMiddle)
{
    const auto first = writer(1);
    const auto second = writer(1);
    const auto self = writer(1);
    range(first) = {0, 40, 30};    // 10 left
    range(second) = {40, 100, 50}; // 50 left: the busiest
    EXPECT_EQ(schedule(self, {first, second}, mapPayload({0, 100})).result, ScheduleResult::Fetch);
    EXPECT_EQ(range(self).start, 75u);
    EXPECT_EQ(range(self).end, 100u);
    EXPECT_EQ(range(self).position, 75u);
    EXPECT_EQ(range(second).end, 75u);
    EXPECT_EQ(range(first).end, 40u);
}

TEST_F(SchedulerTest, SplitNeedsFourBlocksAboveTheMiddle)
{
    const auto busy = writer(1);
    const auto self = writer(1);
    range(busy) = {0, 100, 92}; // middle 96: four blocks above
    EXPECT_EQ(schedule(self, {busy}, mapPayload({0, 100})).result, ScheduleResult::Fetch);
    EXPECT_EQ(range(self).start, 96u);

    range(busy) = {0, 100, 94}; // middle 97: three above
    range(self) = {};
    EXPECT_EQ(schedule(self, {busy}, mapPayload({0, 100})).result, ScheduleResult::SharerDone);
    EXPECT_EQ(range(busy).end, 100u);
}

TEST_F(SchedulerTest, OtherSharersRangeIsTakenOverOnlyAboveSixteenFreeBlocks)
{
    const auto busy = writer(2);
    const auto self = writer(1);
    range(busy) = {0, 100, 84}; // 16 blocks not yet fetched
    EXPECT_EQ(schedule(self, {busy}, mapPayload({0, 100})).result, ScheduleResult::SharerDone);
    EXPECT_EQ(range(busy).end, 100u);

    range(busy) = {0, 100, 83}; // 17: the upper half goes to this link
    const auto outcome = schedule(self, {busy}, mapPayload({0, 100}));
    EXPECT_EQ(outcome.result, ScheduleResult::Fetch);
    EXPECT_EQ(range(busy).end, 91u);
    EXPECT_EQ(range(self).start, 91u);
    EXPECT_EQ(range(self).end, 100u);
    EXPECT_EQ(outcome.logText, "Match:aEmp[1]; {0,83,100},Trxfer.Center=91; PreSave{83,100},nSplit=91 ELSE.Logical "
                               "Result:aEmp[1]; Ori{0,83,91},this{91,100}\r\n");
}

TEST_F(SchedulerTest, ARangeNotYetStartedIsSplitNotFetchedTwice)
{
    const auto busy = writer(2);
    const auto self = writer(1);
    range(busy) = {0, 100, 0}; // taken, nothing fetched yet
    EXPECT_EQ(schedule(self, {busy}, mapPayload({0, 100})).result, ScheduleResult::Fetch);
    EXPECT_EQ(range(busy).end, 50u);
    EXPECT_EQ(range(self).start, 50u);
    EXPECT_EQ(range(self).end, 100u);
}

TEST_F(SchedulerTest, ReportsCompletionAndTheEndOfWhatTheSharerHas)
{
    const auto self = writer(1);
    self.stream->entry()->map.addRange(0, 60);
    EXPECT_EQ(schedule(self, {}, mapPayload({0, 60})).result, ScheduleResult::SharerDone);
    self.stream->entry()->map.addRange(60, 100);
    EXPECT_EQ(schedule(self, {}, mapPayload({0, 100})).result, ScheduleResult::FileComplete);
}

TEST_F(SchedulerTest, MalformedSharerMapsAreRejected)
{
    const auto self = writer(1);
    for (const auto& map : {mapPayload({20, 10}), mapPayload({0, 101}), mapPayload({0, 10, 20})})
        EXPECT_EQ(schedule(self, {}, map).result, ScheduleResult::InvalidMap);
    // Pairs in any order, overlapping or empty, are still the sharer's blocks.
    EXPECT_EQ(schedule(self, {}, mapPayload({50, 60, 5, 5, 10, 55})).result, ScheduleResult::Fetch);
    EXPECT_EQ(range(self).start, 10u);
    EXPECT_EQ(range(self).end, 60u);
}

TEST_F(SchedulerTest, ASharerMapOfSixtyFourRangesOffersOnlyBlocksNotHeld)
{
    const auto self = writer(1, 200 * 1024);
    self.stream->entry()->map.addRange(0, 4);
    Bytes payload;
    ByteWriter out(payload);
    for (std::uint32_t i = 0; i < 64; ++i) {
        out.u32le(i * 3);
        out.u32le(i * 3 + 2);
    }
    EXPECT_EQ(schedule(self, {}, payload).result, ScheduleResult::Fetch);
    EXPECT_EQ(range(self).start, 4u);
    EXPECT_EQ(range(self).end, 5u);
}

TEST_F(SchedulerTest, WithAFullMapOnlyRangesThatExtendAHeldOneAreChosen)
{
    const auto self = writer(1, 400 * 1024);
    BlockMap& own = self.stream->entry()->map;
    for (std::uint32_t i = 0; i < 64; ++i)
        own.addRange(10 + i * 5, 12 + i * 5);
    ASSERT_EQ(own.count(), BlockMap::kCapacity);
    // [0, 10) could not be recorded once fetched: it would be chosen again and again.
    EXPECT_EQ(schedule(self, {}, mapPayload({0, 400})).result, ScheduleResult::Fetch);
    EXPECT_EQ(range(self).start, 12u);
    range(self).position = range(self).end;
    EXPECT_TRUE(self.stream->flushRange());
    EXPECT_EQ(own.runFrom(10), 7u); // the gap [12, 15) joined two ranges
    EXPECT_EQ(own.count(), BlockMap::kCapacity - 2);
}

class BlockExchangeTest : public SchedulerTest {
protected:
    // A file of 20 blocks whose last block is short.
    static constexpr std::uint64_t kSize = 20 * 1024 - 300;
};

TEST_F(BlockExchangeTest, WritesAdvanceByWholeBlocksAndEndAtTheRangeEdge)
{
    const auto link = writer(1, kSize);
    FileStream& stream = *link.stream;
    range(link) = {8, 16, 8};
    std::uint32_t block = 8;
    EXPECT_EQ(writeBlocks(stream, block, pattern(8 * 1024, 4096)), WriteResult::Continue);
    EXPECT_EQ(block, 12u);
    EXPECT_EQ(range(link).position, 12u);
    EXPECT_EQ(stream.entry()->receivedKb, 4u);
    EXPECT_EQ(writeBlocks(stream, block, pattern(12 * 1024, 4096)), WriteResult::RangeDone);
    EXPECT_EQ(stream.entry()->map, *BlockMap::fromBoundaries(std::vector<std::uint32_t>{8, 16}));
    EXPECT_EQ(range(link).end, 0u);

    // The short last block still counts as a whole one.
    range(link) = {16, 20, 16};
    block = 16;
    EXPECT_EQ(writeBlocks(stream, block, pattern(16 * 1024, kSize - 16 * 1024)), WriteResult::RangeDone);
    EXPECT_EQ(block, 20u);
    EXPECT_EQ(stream.entry()->map, *BlockMap::fromBoundaries(std::vector<std::uint32_t>{8, 20}));
}

TEST_F(BlockExchangeTest, BlocksPastTheRangeInAnAnswerAreNeitherWrittenNorClaimed)
{
    const auto link = writer(1, kSize);
    FileStream& stream = *link.stream;
    range(link) = {8, 10, 8};
    std::uint32_t block = 8;
    EXPECT_EQ(writeBlocks(stream, block, pattern(8 * 1024, 4096)), WriteResult::RangeDone);
    EXPECT_EQ(block, 10u);
    EXPECT_EQ(stream.entry()->map, *BlockMap::fromBoundaries(std::vector<std::uint32_t>{8, 10}));
    EXPECT_EQ(stream.entry()->receivedKb, 2u);
}

TEST_F(BlockExchangeTest, AnswersOutsideTheRangeOrNotAskedForAreRefused)
{
    const auto link = writer(1, kSize);
    FileStream& stream = *link.stream;
    const auto data = pattern(0, 4096);
    for (std::uint32_t asked : {16u, 19u, 9u}) {
        range(link) = {8, 16, 8};
        std::uint32_t block = asked;
        EXPECT_EQ(writeBlocks(stream, block, data), WriteResult::Failed) << asked;
        EXPECT_EQ(range(link).position, 8u) << asked;
    }
    std::uint32_t block = 8;
    EXPECT_EQ(writeBlocks(stream, block, {}), WriteResult::Failed);
    // Four whole blocks at 16 would run past the end of the file.
    range(link) = {16, 20, 16};
    block = 16;
    EXPECT_EQ(writeBlocks(stream, block, data), WriteResult::Failed);

    // Below the range start: what was fetched is kept and a new range is chosen.
    range(link) = {8, 16, 10};
    block = 4;
    EXPECT_EQ(writeBlocks(stream, block, data), WriteResult::RangeDone);
    EXPECT_EQ(stream.entry()->map, *BlockMap::fromBoundaries(std::vector<std::uint32_t>{8, 10}));
}

TEST_F(BlockExchangeTest, SharerAdvertisesUnmergedBlocksAndReadsOnlyThoseItHolds)
{
    const auto receiving = writer(1, kSize);
    receiving.stream->entry()->map.addRange(0, 4);
    range(receiving) = {10, 20, 14};
    FileStream& serving = list.add(table);
    FileInfoBlock info;
    ASSERT_EQ(serving.open(scratch.file("shared.bin"), info, false, {}), OpenResult::Ok);
    EXPECT_EQ(advertisedMap(serving, list), *BlockMap::fromBoundaries(std::vector<std::uint32_t>{0, 4, 10, 14}));

    std::uint32_t block = 14;
    ASSERT_EQ(writeBlocks(*receiving.stream, block, pattern(14 * 1024, 4096)), WriteResult::Continue);
    Bytes into(64 * 1024);
    EXPECT_EQ(readBlocks(serving, list, 14, 64, into), 0u); // more than one frame holds
    EXPECT_EQ(readBlocks(serving, list, 14, 0, into), 0u);
    EXPECT_EQ(readBlocks(serving, list, 14, 63, into), 4096u); // the run held from block 14
    EXPECT_EQ(Bytes(into.begin(), into.begin() + 4096), pattern(14 * 1024, 4096));
    EXPECT_EQ(readBlocks(serving, list, 20, 4, into), 0u);
    // A partial file holds zeros past its ranges: a request stops at the end of a held range
    // and one for a block not held is not answered.
    EXPECT_EQ(readBlocks(serving, list, 2, 4, into), 2048u);
    EXPECT_EQ(readBlocks(serving, list, 5, 4, into), 0u);
}

} // namespace
