#include <gtest/gtest.h>

#include <algorithm>

#include "tasks/seed_table.h"

using namespace vandry;

namespace {
HostIdentity host(unsigned n)
{
    HostIdentity id{};
    id[0] = static_cast<std::uint8_t>(n);
    id[1] = static_cast<std::uint8_t>(n >> 8);
    id[2] = 0x5E;
    id[15] = 0xA5;
    return id;
}

SourceInfo fileKey(unsigned n)
{
    SourceInfo key;
    key.digest[0] = static_cast<std::uint8_t>(n);
    key.digest[15] = 0x77;
    key.sizeLow = 4096;
    key.source = host(9000);
    return key;
}

HostRecord neighbourRecord(unsigned n)
{
    HostRecord r;
    r.identity = host(n);
    r.lanPrimary = 0xC0A80000u + n;
    r.portUdp = 1552;
    r.setNickname("copy");
    return r;
}

class SeedTableTest : public ::testing::Test {
protected:
    const SeedEntry& entry(const SourceInfo& k, unsigned source)
    {
        const auto view = seeds.view(k);
        static const SeedEntry missing;
        if (!view)
            return missing;
        shown = view->entries;
        const auto it =
            std::find_if(shown.begin(), shown.end(), [&](const SeedEntry& e) { return e.identity == host(source); });
        return it == shown.end() ? missing : *it;
    }
    std::int64_t now() const { return clock.nowSeconds(); }

    ManualClock clock;
    SeedTable seeds{clock};
    SourceInfo key = fileKey(1);
    std::vector<SeedEntry> shown;
};

class SeedSweepTest : public SeedTableTest {
protected:
    // Neighbours 1-4 are heard of now.
    void hearNeighbours()
    {
        std::vector<HostRecord> records;
        for (unsigned n = 1; n <= 4; ++n)
            records.push_back(neighbourRecord(n));
        neighbours.merge(records, 0);
    }
    std::vector<HostIdentity> sweep(std::span<const HostIdentity> busy = {}, bool skipBusy = false)
    {
        std::vector<HostIdentity> asked;
        seeds.querySweep(key, neighbours, busy, skipBusy,
                         [&](NeighbourSlot slot) { asked.push_back(neighbours.at(slot).host.identity); });
        return asked;
    }

    NeighbourTable neighbours{clock, neighbourRecord(7777)};
};
} // namespace

TEST_F(SeedTableTest, ReadyAnswerIsEligibleOnlyWhenMoreThanOneSecondOldAndAgain27sAfterAPick)
{
    seeds.addSource(true, key, host(1), "\\films\\a.mkv");
    EXPECT_FALSE(seeds.hasCandidate(key));
    clock.advanceSeconds(1);
    EXPECT_FALSE(seeds.hasCandidate(key));
    EXPECT_FALSE(seeds.pickSource(key));
    clock.advanceSeconds(1);
    ASSERT_TRUE(seeds.hasCandidate(key));
    const auto picked = seeds.pickSource(key);
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->identity, host(1));
    EXPECT_EQ(picked->path, "\\films\\a.mkv");
    EXPECT_EQ(entry(key, 1).state, SEED_FLAG_READY);
    EXPECT_EQ(entry(key, 1).time, now() + 25);

    clock.advanceSeconds(26);
    EXPECT_FALSE(seeds.hasCandidate(key));
    clock.advanceSeconds(1);
    EXPECT_TRUE(seeds.hasCandidate(key));
}

TEST_F(SeedTableTest, SuspendedSourceWaitsMoreThan120sAndReadyOnesComeFirst)
{
    seeds.addSource(true, key, host(1), "\\a");
    seeds.addSource(true, key, host(2), "\\b");
    ASSERT_TRUE(seeds.setSourceState(key, host(1), SEED_FLAG_SUSPEND));
    ASSERT_TRUE(seeds.setSourceState(key, host(2), SEED_FLAG_CONNECTED));
    clock.advanceSeconds(120);
    EXPECT_FALSE(seeds.hasCandidate(key));
    clock.advanceSeconds(1);
    EXPECT_TRUE(seeds.hasCandidate(key));

    seeds.addSource(true, key, host(3), "\\c");
    clock.advanceSeconds(2);
    EXPECT_EQ(seeds.pickSource(key)->identity, host(3));
    EXPECT_EQ(seeds.pickSource(key)->identity, host(1));
    EXPECT_EQ(entry(key, 1).state, SEED_FLAG_SUSPEND);
    EXPECT_FALSE(seeds.pickSource(key));
}

TEST_F(SeedTableTest, AnswersSetReadyOrBadButNeverDowngradeReady)
{
    seeds.addSource(false, key, host(1), "\\ignored");
    EXPECT_EQ(entry(key, 1).state, SEED_FLAG_BAD);
    EXPECT_EQ(entry(key, 1).path, "");

    seeds.addSource(true, key, host(2), "\\b");
    const std::int64_t answered = now();
    clock.advanceSeconds(5);
    seeds.addSource(false, key, host(2), "");
    EXPECT_EQ(entry(key, 2).state, SEED_FLAG_READY);
    EXPECT_EQ(entry(key, 2).time, answered);
    EXPECT_EQ(entry(key, 2).path, "\\b");

    seeds.addSource(true, key, host(1), "\\now-has-it");
    EXPECT_EQ(entry(key, 1).state, SEED_FLAG_READY);
    EXPECT_EQ(entry(key, 1).path, "\\now-has-it");
    EXPECT_EQ(seeds.view(key)->entries.size(), 2u);
}

TEST_F(SeedTableTest, AnswerFromAnIdentityWithAZeroPrefixIsIgnored)
{
    HostIdentity zeroPrefix = host(1);
    zeroPrefix[0] = zeroPrefix[1] = zeroPrefix[2] = zeroPrefix[3] = 0;
    seeds.addSource(true, key, zeroPrefix, "\\a");
    EXPECT_FALSE(seeds.view(key));
}

TEST_F(SeedTableTest, OperationsWithoutASlotDoNothing)
{
    EXPECT_EQ(seeds.findSlot(key, false), -1);
    EXPECT_FALSE(seeds.dropSlot(key));
    EXPECT_FALSE(seeds.setSourceState(key, host(1), SEED_FLAG_READY));
    EXPECT_FALSE(seeds.reviveSource(key, host(1), -600));
    seeds.resetSources(key);
    seeds.shuffleSources(key);
    seeds.retryBadSources(key);
    EXPECT_FALSE(seeds.hasCandidate(key));
    EXPECT_FALSE(seeds.pickSource(key));
    EXPECT_FALSE(seeds.view(key));
}

TEST_F(SeedTableTest, SettingAnEntryEmptyIsRefusedSoTheListStaysWhole)
{
    seeds.addSource(true, key, host(1), "\\a");
    seeds.addSource(true, key, host(2), "\\b");
    EXPECT_FALSE(seeds.setSourceState(key, host(1), SEED_FLAG_EMPTY));
    EXPECT_FALSE(seeds.setSourceState(key, host(3), SEED_FLAG_SUSPEND));
    EXPECT_EQ(seeds.view(key)->entries.size(), 2u);
}

TEST_F(SeedTableTest, FullEntryListReusesBadThenReadyThenIgnoresTheAnswer)
{
    for (unsigned n = 1; n <= SeedTable::kEntries; ++n)
        seeds.addSource(n != 100, key, host(n), "\\f");
    ASSERT_EQ(seeds.view(key)->entries.size(), SeedTable::kEntries);

    seeds.addSource(true, key, host(300), "\\new");
    EXPECT_EQ(seeds.view(key)->entries[99].identity, host(300));
    EXPECT_EQ(seeds.view(key)->entries[99].state, SEED_FLAG_READY);

    // No BAD entry left: the first READY one is chosen, and a negative answer leaves it alone.
    seeds.addSource(false, key, host(301), "");
    EXPECT_EQ(seeds.view(key)->entries[0].identity, host(1));
    seeds.addSource(true, key, host(302), "\\other");
    EXPECT_EQ(seeds.view(key)->entries[0].identity, host(302));
    EXPECT_EQ(seeds.view(key)->entries[0].path, "\\other");

    const auto full = seeds.view(key);
    for (const SeedEntry& e : full->entries)
        seeds.setSourceState(key, e.identity, SEED_FLAG_CONNECTED);
    seeds.addSource(true, key, host(303), "\\late");
    seeds.addSource(false, key, host(304), "");
    const auto entries = seeds.view(key)->entries;
    EXPECT_EQ(entries.size(), SeedTable::kEntries);
    EXPECT_TRUE(std::all_of(entries.begin(), entries.end(), [](const SeedEntry& e) {
        return e.state == SEED_FLAG_CONNECTED && e.identity != host(303) && e.identity != host(304);
    }));
}

TEST_F(SeedTableTest, DroppingSlotZeroOfThreeMovesTheLastIntoItsPlace)
{
    for (unsigned n = 0; n < 3; ++n)
        seeds.addSource(true, fileKey(n), host(n + 1), "\\p" + std::to_string(n));
    ASSERT_EQ(seeds.findSlot(fileKey(2), false), 2);

    EXPECT_TRUE(seeds.dropSlot(fileKey(0)));
    EXPECT_EQ(seeds.findSlot(fileKey(0), false), -1);
    EXPECT_EQ(seeds.findSlot(fileKey(2), false), 0);
    EXPECT_EQ(seeds.findSlot(fileKey(1), false), 1);
    EXPECT_EQ(entry(fileKey(2), 3).path, "\\p2");
    EXPECT_EQ(entry(fileKey(1), 2).path, "\\p1");
    EXPECT_FALSE(seeds.dropSlot(fileKey(0)));

    EXPECT_EQ(seeds.findSlot(fileKey(7), true), 2);
    EXPECT_TRUE(seeds.view(fileKey(7))->entries.empty());
}

TEST_F(SeedTableTest, ShuffleTurnsTheOneRunningSourceManualAndPickingConnectsIt)
{
    seeds.addSource(true, key, host(1), "\\a");
    seeds.addSource(false, key, host(2), "");
    seeds.setSourceState(key, host(1), SEED_FLAG_CONNECTED);
    clock.advanceMs(1234);
    seeds.shuffleSources(key);
    EXPECT_EQ(entry(key, 1).state, SEED_FLAG_MANUL);
    EXPECT_EQ(entry(key, 1).time, now() - 3);
    EXPECT_EQ(entry(key, 2).state, SEED_FLAG_BAD);
    ASSERT_TRUE(seeds.hasCandidate(key));
    EXPECT_EQ(seeds.pickSource(key)->identity, host(1));
    EXPECT_EQ(entry(key, 1).state, SEED_FLAG_CONNECTED);
    EXPECT_EQ(entry(key, 1).time, now() + 25);
    EXPECT_FALSE(seeds.hasCandidate(key));
}

TEST_F(SeedTableTest, ResetMakesRunningAndResumedSourcesReady)
{
    for (unsigned n = 1; n <= 3; ++n)
        seeds.addSource(true, key, host(n), "\\a");
    seeds.setSourceState(key, host(1), SEED_FLAG_CONNECTED);
    seeds.setSourceState(key, host(2), SEED_FLAG_MANUL);
    seeds.setSourceState(key, host(3), SEED_FLAG_REJECT);
    clock.advanceSeconds(30);
    seeds.resetSources(key);
    EXPECT_EQ(entry(key, 1).state, SEED_FLAG_READY);
    EXPECT_EQ(entry(key, 1).time, now());
    EXPECT_EQ(entry(key, 2).state, SEED_FLAG_READY);
    EXPECT_EQ(entry(key, 3).state, SEED_FLAG_REJECT);
    EXPECT_EQ(entry(key, 3).time, now() - 30);
}

TEST_F(SeedTableTest, ReviveTurnsRefusalsIntoOldBadAnswersOnly)
{
    seeds.addSource(false, key, host(1), "");
    seeds.addSource(true, key, host(2), "\\b");
    seeds.addSource(true, key, host(3), "\\c");
    seeds.setSourceState(key, host(2), SEED_FLAG_REJECT);
    clock.advanceSeconds(2);
    const std::int64_t pickedUntil = seeds.pickSource(key) ? now() + 25 : 0;

    EXPECT_TRUE(seeds.reviveSource(key, host(1), -600));
    EXPECT_EQ(entry(key, 1).state, SEED_FLAG_BAD);
    EXPECT_EQ(entry(key, 1).time, now() - 600);
    EXPECT_TRUE(seeds.reviveSource(key, host(2), -600));
    EXPECT_EQ(entry(key, 2).state, SEED_FLAG_BAD);
    EXPECT_EQ(entry(key, 2).time, now() - 600);
    // A source picked a moment ago keeps its hold-off.
    EXPECT_FALSE(seeds.reviveSource(key, host(3), -600));
    EXPECT_EQ(entry(key, 3).time, pickedUntil);
    EXPECT_FALSE(seeds.reviveSource(key, host(4), -600));
}

TEST_F(SeedTableTest, FullTableGivesTheLeastRecentlyQueriedSlotToANewFile)
{
    NeighbourTable neighbours{clock, neighbourRecord(7777)};
    const HostRecord one = neighbourRecord(1);
    const auto query = [&](const SourceInfo& k) {
        neighbours.merge(std::span(&one, 1), 0);
        seeds.querySweep(k, neighbours, {}, false, [](NeighbourSlot) {});
    };
    for (unsigned n = 0; n < SeedTable::kSlots; ++n) {
        seeds.addSource(true, fileKey(n), host(50), "\\x");
        if (n != 5)
            query(fileKey(n));
        clock.advanceSeconds(1);
    }
    // Slot 5 was never queried, so it goes first although slot 0 was queried earliest.
    EXPECT_EQ(seeds.findSlot(fileKey(100), true), 5);
    EXPECT_EQ(seeds.findSlot(fileKey(5), false), -1);
    EXPECT_TRUE(seeds.view(fileKey(100))->entries.empty());
    query(fileKey(100));

    EXPECT_EQ(seeds.findSlot(fileKey(101), true), 0);
    EXPECT_EQ(seeds.findSlot(fileKey(0), false), -1);
    EXPECT_EQ(seeds.findSlot(fileKey(1), false), 1);
}

TEST_F(SeedTableTest, FullTableWithoutQueriesReusesTheFirstSlot)
{
    for (unsigned n = 0; n < SeedTable::kSlots; ++n)
        seeds.findSlot(fileKey(n), true);
    EXPECT_EQ(seeds.findSlot(fileKey(200), true), 0);
    EXPECT_EQ(seeds.findSlot(fileKey(63), false), 63);
}

TEST_F(SeedSweepTest, AsksEveryRecentNeighbourAtMostEvery120s)
{
    hearNeighbours();
    EXPECT_EQ(sweep().size(), 4u);
    EXPECT_EQ(seeds.view(key)->refreshTime, now());
    clock.advanceSeconds(120);
    hearNeighbours();
    EXPECT_TRUE(sweep().empty());
    clock.advanceSeconds(1);
    EXPECT_EQ(sweep().size(), 4u);

    // Neighbours silent for 300 s are not asked.
    clock.advanceSeconds(300);
    EXPECT_TRUE(sweep().empty());
    EXPECT_EQ(seeds.view(key)->refreshTime, now() - 300);
}

TEST_F(SeedSweepTest, SkipsKnownAndBusySourcesButAsksOldBadOnesAgain)
{
    hearNeighbours();
    seeds.addSource(true, key, host(1), "\\a");
    seeds.addSource(false, key, host(2), "");
    const std::vector<HostIdentity> busy{host(3)};
    EXPECT_EQ(sweep(busy, true), std::vector<HostIdentity>{host(4)});

    clock.advanceSeconds(599);
    hearNeighbours();
    EXPECT_EQ(sweep(busy, false), (std::vector<HostIdentity>{host(3), host(4)}));
    clock.advanceSeconds(200);
    hearNeighbours();
    EXPECT_EQ(sweep(busy, true), (std::vector<HostIdentity>{host(2), host(4)}));
}

TEST_F(SeedSweepTest, ResetShuffleOfAnEmptySlotAndRetryOpenTheNextSweep)
{
    hearNeighbours();
    seeds.addSource(false, key, host(1), "");
    seeds.addSource(false, key, host(2), "");
    seeds.addSource(false, key, host(3), "");
    seeds.addSource(false, key, host(4), "");
    ASSERT_TRUE(sweep().empty());

    seeds.retryBadSources(key);
    EXPECT_EQ(entry(key, 2).time, now() - 600);
    EXPECT_EQ(sweep().size(), 4u);
    EXPECT_TRUE(sweep().empty());
    seeds.resetSources(key);
    EXPECT_EQ(seeds.view(key)->refreshTime, 0);

    const SourceInfo other = fileKey(2);
    seeds.findSlot(other, true);
    std::vector<HostIdentity> asked;
    seeds.querySweep(other, neighbours, {}, false,
                     [&](NeighbourSlot s) { asked.push_back(neighbours.at(s).host.identity); });
    ASSERT_EQ(asked.size(), 4u);
    seeds.shuffleSources(other);
    EXPECT_EQ(seeds.view(other)->refreshTime, 0);
}
