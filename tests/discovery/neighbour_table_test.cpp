#include <gtest/gtest.h>

#include "discovery/neighbour_table.h"

using namespace vandry;

namespace {
HostIdentity identity(unsigned n)
{
    HostIdentity id{};
    id[0] = static_cast<std::uint8_t>(n);
    id[1] = static_cast<std::uint8_t>(n >> 8);
    id[15] = 0xA5;
    return id;
}

HostRecord host(unsigned n, Ipv4 lan = 0, Ipv4 mapped = 0)
{
    HostRecord r;
    r.identity = identity(n);
    r.lanPrimary = lan ? lan : 0xC0A80000u + n;
    r.lanSecondary = 0x0A000000u + n;
    r.mapAddr = mapped;
    r.mapPort = mapped ? 40000 : 0;
    r.portUdp = 1552;
    r.portTcp = 1552;
    r.setNickname("copy");
    return r;
}

constexpr unsigned kLocal = 9999;

class NeighbourTableTest : public ::testing::Test {
protected:
    std::optional<NeighbourSlot> mergeOne(const HostRecord& r, std::uint16_t hint = 0)
    {
        return table.merge(std::span(&r, 1), hint);
    }
    // Slots 1-2047 hold copies 1-2047, all merged now.
    void fillTable()
    {
        for (unsigned n = 1; n < NeighbourTable::kSlots; ++n)
            ASSERT_EQ(mergeOne(host(n)), NeighbourSlot{static_cast<std::uint16_t>(n)});
    }
    bool holds(const HostIdentity& id) const
    {
        for (std::uint16_t i = 1; i < NeighbourTable::kSlots; ++i)
            if (table.at({i}).host.identity == id)
                return true;
        return false;
    }

    ManualClock clock;
    NeighbourTable table{clock, host(kLocal, 0, 0)};
};
} // namespace

TEST_F(NeighbourTableTest, LocalSlotIsPermanentlyFresh)
{
    EXPECT_EQ(table.local().lastSeen, NeighbourTable::kLocalLastSeen);
    EXPECT_EQ(table.find(identity(kLocal), false), NeighbourTable::kLocalSlot);
    clock.advanceSeconds(5LL * 365 * 86400);
    EXPECT_EQ(table.listed(), std::vector<NeighbourSlot>{NeighbourTable::kLocalSlot});
    EXPECT_TRUE(table.neighboursSeenWithin(NeighbourTable::kOnlineAge).empty());

    // Probes and punch answers carrying the local identity do not touch slot 0.
    table.recordProbe(NeighbourTable::kLocalSlot, {0x01020304, 5});
    table.confirmDirectAddress(NeighbourTable::kLocalSlot, 0x01020304);
    EXPECT_EQ(table.local().lastSeen, NeighbourTable::kLocalLastSeen);
    EXPECT_EQ(table.local().observedAddr, 0u);
    EXPECT_EQ(table.local().directAddr, 0u);
}

TEST_F(NeighbourTableTest, MergeFillsFreeSlotsAndRefreshesTheSameCopy)
{
    EXPECT_EQ(mergeOne(host(1)), NeighbourSlot{1});
    EXPECT_EQ(mergeOne(host(2)), NeighbourSlot{2});
    table.recordProbe({1}, {0x05060708, 6000});
    clock.advanceSeconds(500); // stale for the list, still the same identity for merge
    auto renamed = host(1);
    renamed.setNickname("renamed");
    EXPECT_EQ(mergeOne(renamed), NeighbourSlot{1});
    const auto& slot = table.at({1});
    EXPECT_EQ(slot.host, renamed);
    EXPECT_EQ(slot.lastSeen, clock.nowSeconds());
    EXPECT_EQ(slot.observedAddr, 0x05060708u); // locally learnt fields stay
    EXPECT_EQ(slot.observedPort, 6000);
}

TEST_F(NeighbourTableTest, LocalIdentityNeverEntersNeighbourSlots)
{
    EXPECT_FALSE(mergeOne(host(kLocal)));
    EXPECT_FALSE(mergeOne(host(kLocal), 0));
    const std::vector<HostRecord> list{host(kLocal), host(1)};
    EXPECT_EQ(table.merge(list, 0), NeighbourSlot{1});
    const std::vector<HostRecord> localLast{host(2), host(kLocal)};
    EXPECT_FALSE(table.merge(localLast, 0)); // the result describes the last record
    EXPECT_FALSE(holds(identity(kLocal)));
    EXPECT_EQ(table.local().host, host(kLocal, 0, 0));
}

TEST_F(NeighbourTableTest, HintIsHonouredOnlyForTheSameIdentityInAOneRecordList)
{
    mergeOne(host(1));
    mergeOne(host(2));
    // Slot 1 holds copy 1: copy 3 hinted there is merged by scan instead.
    EXPECT_EQ(mergeOne(host(3), 1), NeighbourSlot{3});
    EXPECT_EQ(table.at({1}).host.identity, identity(1));
    EXPECT_EQ(mergeOne(host(2), 2), NeighbourSlot{2});
    // A free slot holds no identity either, and hints past the table are ignored.
    EXPECT_EQ(mergeOne(host(4), 100), NeighbourSlot{4});
    EXPECT_EQ(mergeOne(host(5), 2048), NeighbourSlot{5});
    EXPECT_EQ(mergeOne(host(6), 0xFFFF), NeighbourSlot{6});
}

TEST_F(NeighbourTableTest, TwoRecordListIgnoresTheHint)
{
    mergeOne(host(1));
    const std::vector<HostRecord> list{host(7), host(8)};
    EXPECT_EQ(table.merge(list, 1), NeighbourSlot{3});
    EXPECT_EQ(table.at({1}).host.identity, identity(1));
    EXPECT_EQ(table.at({2}).host.identity, identity(7));
    EXPECT_EQ(table.at({3}).host.identity, identity(8));
}

TEST_F(NeighbourTableTest, FullTableDropsANewCopyUntilASlotIsOlderThan120Seconds)
{
    const auto start = clock.nowSeconds();
    fillTable();
    table.recordProbe({7}, {0x01010101, 1111});
    clock.advanceSeconds(1);
    for (unsigned n = 1; n < NeighbourTable::kSlots; ++n)
        if (n != 7)
            mergeOne(host(n));
    EXPECT_FALSE(mergeOne(host(5000)));
    clock.setSeconds(start + 120); // copy 7 is exactly 120 s old: still fresh
    EXPECT_FALSE(mergeOne(host(5000)));
    EXPECT_FALSE(holds(identity(5000)));
    clock.setSeconds(start + 121);
    EXPECT_EQ(mergeOne(host(5000)), NeighbourSlot{7});
    const auto& taken = table.at({7});
    EXPECT_EQ(taken.host, host(5000));
    EXPECT_EQ(taken.observedAddr, 0u); // nothing of copy 7 is carried over
    EXPECT_EQ(taken.observedPort, 0);
}

TEST_F(NeighbourTableTest, PeersFillingTheTableNeverKeepOutACopyAServerNames)
{
    for (unsigned n = 1; n < NeighbourTable::kSlots; ++n) {
        const auto r = host(n);
        table.merge(std::span(&r, 1), 0, RecordSource::Peer);
    }
    const auto real = host(5000);
    EXPECT_FALSE(table.merge(std::span(&real, 1), 0, RecordSource::Peer));
    EXPECT_EQ(table.merge(std::span(&real, 1), 0, RecordSource::Server), NeighbourSlot{1});
    // Once named by a server a live copy is kept: the next server record takes another slot.
    const auto second = host(5001);
    EXPECT_EQ(table.merge(std::span(&second, 1), 0, RecordSource::Server), NeighbourSlot{2});
    const auto fake = host(5002);
    EXPECT_FALSE(table.merge(std::span(&fake, 1), 0, RecordSource::Peer));
    EXPECT_TRUE(holds(identity(5000)));
}

TEST_F(NeighbourTableTest, DirectAddressSurvivesMergesOnlyWhileItIsALanAddress)
{
    mergeOne(host(1));
    table.confirmDirectAddress({1}, host(1).lanSecondary);
    mergeOne(host(1));
    EXPECT_EQ(table.at({1}).directAddr, host(1).lanSecondary);
    auto moved = host(1);
    moved.lanSecondary = 0x0B000001;
    mergeOne(moved);
    EXPECT_EQ(table.at({1}).directAddr, 0u);
    mergeOne(host(1));
    EXPECT_EQ(table.at({1}).directAddr, 0u);
}

TEST_F(NeighbourTableTest, FindAnswersFor600SecondsThenCreatesInTheSameSlot)
{
    mergeOne(host(1));
    mergeOne(host(2));
    clock.advanceSeconds(599);
    EXPECT_EQ(table.find(identity(2), false), NeighbourSlot{2});
    clock.advanceSeconds(1);
    EXPECT_FALSE(table.find(identity(2), false));
    EXPECT_EQ(table.find(identity(2), true), NeighbourSlot{2});
    EXPECT_EQ(table.at({2}).host.nickname(), "(TEMP)");
    EXPECT_EQ(table.at({2}).lastSeen, clock.nowSeconds());
    EXPECT_EQ(table.find(identity(2), false), NeighbourSlot{2});
}

TEST_F(NeighbourTableTest, ProvisionalEntryIsZeroButIdentityNicknameAndTime)
{
    mergeOne(host(1));
    table.confirmDirectAddress({1}, 0x0A0A0A0A);
    clock.advanceSeconds(600);
    const auto slot = table.find(identity(1), true);
    ASSERT_EQ(slot, NeighbourSlot{1});
    NeighbourRecord expected;
    expected.host.identity = identity(1);
    expected.host.setNickname("(TEMP)");
    expected.lastSeen = static_cast<std::uint32_t>(clock.nowSeconds());
    EXPECT_EQ(table.at(*slot), expected);

    const auto fresh = table.find(identity(42), true);
    ASSERT_EQ(fresh, NeighbourSlot{2});
    expected.host.identity = identity(42);
    EXPECT_EQ(table.at(*fresh), expected);
}

TEST_F(NeighbourTableTest, FindNeverTakesOverAStaleSlotOfAnotherCopy)
{
    fillTable();
    clock.advanceSeconds(700);
    EXPECT_FALSE(table.find(identity(5000), true));
    EXPECT_FALSE(holds(identity(5000)));
    // Merge does take the stale slot.
    EXPECT_EQ(mergeOne(host(5000)), NeighbourSlot{1});
}

TEST_F(NeighbourTableTest, FindByHexTextAndSnapshot)
{
    mergeOne(host(1));
    mergeOne(host(2));
    const auto hex = identityHex(identity(2));
    EXPECT_EQ(table.findByHexText(hex), NeighbourSlot{2});
    EXPECT_FALSE(table.findByHexText(hex.substr(1)));
    EXPECT_FALSE(table.findByHexText(hex + "0"));
    EXPECT_FALSE(table.findByHexText(std::string(31, '0') + "g"));
    EXPECT_FALSE(table.findByHexText(identityHex(identity(3))));
    EXPECT_FALSE(holds(identity(3)));

    table.recordProbe({2}, {0x01020304, 77});
    EXPECT_EQ(table.snapshot(host(2)), table.at({2}));
    const auto unknown = table.snapshot(host(3));
    EXPECT_EQ(unknown.host, host(3));
    EXPECT_EQ(unknown.lastSeen, 0u);
    EXPECT_EQ(unknown.observedAddr, 0u);
}

TEST_F(NeighbourTableTest, ListsByAge)
{
    mergeOne(host(1));
    clock.advanceSeconds(1);
    mergeOne(host(2));
    clock.advanceSeconds(119); // copy 1 is 120 s old, copy 2 119 s
    EXPECT_EQ(table.listed(), (std::vector<NeighbourSlot>{{0}, {1}, {2}}));
    EXPECT_EQ(table.neighboursSeenWithin(NeighbourTable::kOnlineAge), std::vector<NeighbourSlot>{{2}});
    clock.advanceSeconds(1);
    EXPECT_EQ(table.listed(), (std::vector<NeighbourSlot>{{0}, {2}}));
    clock.advanceSeconds(299 - 121);
    EXPECT_EQ(table.neighboursSeenWithin(NeighbourTable::kSourceQueryAge), (std::vector<NeighbourSlot>{{1}, {2}}));
    clock.advanceSeconds(1);
    EXPECT_EQ(table.neighboursSeenWithin(NeighbourTable::kSourceQueryAge), std::vector<NeighbourSlot>{{2}});
}

TEST_F(NeighbourTableTest, ChooseAddressRulesInOrder)
{
    // Rule 1: directly on its public address.
    auto onPublic = host(1, 0x50000001, 0x50000001);
    onPublic.mapPort = onPublic.portUdp;
    mergeOne(onPublic);
    table.confirmDirectAddress({1}, 0x50000001);
    EXPECT_EQ(table.chooseAddress(table.at({1})), (Endpoint{0x50000001, 1552}));

    // Same public address but a translated port: not rule 1; the confirmed direct address wins.
    auto translated = host(2, 0x50000002, 0x50000002);
    mergeOne(translated);
    table.recordProbe({2}, {0x60000000, 9000});
    table.confirmDirectAddress({2}, 0x50000002);
    EXPECT_EQ(table.chooseAddress(table.at({2})), (Endpoint{0x50000002, 1552}));

    // Rule 3: the observed address while seen less than 10 s ago; then nothing (other translator).
    mergeOne(host(3, 0xC0A80103, 0x70000000));
    table.recordProbe({3}, {0x70000000, 41000});
    clock.advanceSeconds(9);
    EXPECT_EQ(table.chooseAddress(table.at({3})), (Endpoint{0x70000000, 41000}));
    clock.advanceSeconds(1);
    EXPECT_FALSE(table.chooseAddress(table.at({3})));

    // Rule 4: behind the same translator as this copy (here: neither knows a server).
    mergeOne(host(4, 0xC0A80104, 0));
    EXPECT_EQ(table.chooseAddress(table.at({4})), (Endpoint{0xC0A80104, 1552}));
    // A record without a LAN address has nothing to offer.
    EXPECT_FALSE(table.chooseAddress(table.snapshot(HostRecord{})));
}

TEST(NeighbourTablePair, CopiesWithoutServerReachEachOtherOnTheirLanAddresses)
{
    ManualClock clock;
    const auto a = host(1, 0xC0A80001, 0);
    const auto b = host(2, 0xC0A80002, 0);
    NeighbourTable tableA(clock, a);
    NeighbourTable tableB(clock, b);
    ASSERT_TRUE(tableA.merge(std::span(&b, 1), 0));
    ASSERT_TRUE(tableB.merge(std::span(&a, 1), 0));
    EXPECT_EQ(tableA.chooseAddress(tableA.snapshot(b)), (Endpoint{0xC0A80002, 1552}));
    EXPECT_EQ(tableB.chooseAddress(tableB.snapshot(a)), (Endpoint{0xC0A80001, 1552}));
}

TEST_F(NeighbourTableTest, LanAddressOnlyWhenItDiffersFromTheMappedAddress)
{
    const auto behindNat = table.snapshot(host(1, 0xC0A80001, 0x50000001));
    EXPECT_EQ(table.lanAddress(behindNat), (Endpoint{0xC0A80001, 1552}));
    EXPECT_FALSE(table.lanAddress(table.snapshot(host(2, 0x50000002, 0x50000002))));
    EXPECT_FALSE(table.lanAddress(table.snapshot(HostRecord{})));
}
