#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "rendezvous_fixture.h"

namespace vandry::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

TEST_F(RendezvousTest, ProbeIsAnsweredWithTheSourceAddressAndPort)
{
    const HostIdentity identity{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01};
    ControlDatagram probe;
    probe.type = 0;
    probe.subType = 1;
    probe.address = 2; // the server's index in the copy's list
    socket.receive(*buildControlDatagram(probe, identity), {0xCB007107, 40001}); // 203.0.113.7

    ASSERT_EQ(socket.sent.size(), 1u);
    std::vector<std::uint8_t> expected{28, 0, 0, 2, 0x41, 0x9C, 0, 0, 203, 0, 113, 7};
    expected.insert(expected.end(), identity.begin(), identity.end());
    EXPECT_EQ(socket.sent[0].bytes, expected);
    EXPECT_EQ(socket.sent[0].to, (Endpoint{0xCB007107, 40001}));
}

TEST_F(RendezvousTest, AnnouncedRecordIsKeptWithTheObservedMappedAddress)
{
    announce(1);
    EXPECT_TRUE(othersListedTo(1).empty()) << "nobody else to list yet";
    EXPECT_EQ(server.copies().findLive(copyRecord(1).identity, clock.nowSeconds()), keptRecord(1));

    announce(2);
    EXPECT_THAT(othersListedTo(2), ElementsAre(keptRecord(1)));
}

TEST_F(RendezvousTest, FullListOnRequestHoldsEveryOtherCopyAsType2)
{
    for (int n = 1; n <= 3; ++n)
        announce(n);
    clock.advanceSeconds(20);
    socket.sent.clear();
    announce(1, 1);

    const auto lists = listsSentTo(socket, copyEndpoint(1));
    EXPECT_THAT(othersListedTo(1), UnorderedElementsAre(keptRecord(2), keptRecord(3)));
    for (const auto& [type, subType] : lists.typeAndSubType)
        EXPECT_EQ(type, 2) << "a type 2 list makes the copy refresh its window";
    EXPECT_EQ(socket.sent.size(), socket.sentTo(copyEndpoint(1)).size()) << "a known copy is not pushed again";
}

TEST_F(RendezvousTest, LongListIsSplitIntoSmallCompressedDatagramsThatExpandToEveryOtherCopy)
{
    constexpr int kCopies = 101;
    for (int n = 1; n <= kCopies; ++n)
        announce(n);
    clock.advanceSeconds(20);
    socket.sent.clear();
    announce(kCopies, 1);

    const auto sent = socket.sentTo(copyEndpoint(kCopies));
    ASSERT_GE(sent.size(), 4u);
    bool anyCompressed = false;
    for (const auto& datagram : sent) {
        EXPECT_LE(datagram.bytes.size(), ControlDatagram::kSize + 1200);
        anyCompressed = anyCompressed || datagram.bytes[6] == 1;
    }
    EXPECT_TRUE(anyCompressed);

    std::vector<HostRecord> expected;
    for (int n = 1; n < kCopies; ++n)
        expected.push_back(keptRecord(n));
    EXPECT_THAT(othersListedTo(kCopies), UnorderedElementsAreArray(expected));
}

TEST_F(RendezvousTest, KnownCopyIsSentOnlyTheChangesUntilItsListGrowsOld)
{
    announce(1);
    announce(2);
    const auto twentySecondsOn = [this](std::initializer_list<int> others) {
        clock.advanceSeconds(20);
        for (int n : others)
            announce(n);
        socket.sent.clear();
        announce(1);
    };
    twentySecondsOn({2});
    EXPECT_THAT(othersListedTo(1), ElementsAre(keptRecord(2))) << "the push comes again, in case it was lost";
    twentySecondsOn({2});
    EXPECT_TRUE(socket.sent.empty()) << "nothing changed since";

    announce(3);
    twentySecondsOn({2, 3});
    EXPECT_THAT(othersListedTo(1), ElementsAre(keptRecord(3))) << "only the newcomer";
    twentySecondsOn({2, 3});
    EXPECT_TRUE(socket.sent.empty()) << "80 s after its full list";
    twentySecondsOn({2, 3});
    EXPECT_THAT(othersListedTo(1), UnorderedElementsAre(keptRecord(2), keptRecord(3)))
        << "100 s: its neighbours would go offline before the next announce";
}

TEST_F(RendezvousTest, ACopyRestartedAtOnceAtItsEndpointGetsItsFullListAgain)
{
    announce(2);
    announce(1, 1);
    clock.advanceSeconds(3);
    socket.sent.clear();
    announce(1, 1);
    EXPECT_THAT(othersListedTo(1), ElementsAre(keptRecord(2)));
}

class RendezvousManyChangesTest : public RendezvousTest {
protected:
    RendezvousManyChangesTest() : RendezvousTest(settingsWith([](auto& s) { s.maxUpdateRecords = 5; })) {}
};

TEST_F(RendezvousManyChangesTest, ManyChangesGoAsTheChunksTheyFallIn)
{
    for (int n = 1; n <= 40; ++n)
        announce(n); // copy 1 was listed when it stood alone
    clock.advanceSeconds(20);
    socket.sent.clear();
    announce(1);
    std::vector<HostRecord> expected;
    for (int n = 2; n <= 40; ++n)
        expected.push_back(keptRecord(n));
    EXPECT_THAT(othersListedTo(1), UnorderedElementsAreArray(expected));
    EXPECT_EQ(server.stats().fullLists, 40u) << "one each on joining, none since";
    EXPECT_EQ(server.stats().updateLists, 1u);
}

TEST_F(RendezvousTest, NewcomerIsPushedToTheKnownCopies)
{
    announce(1);
    announce(2);
    socket.sent.clear();
    announce(3);
    for (int n : {1, 2}) {
        const auto lists = listsSentTo(socket, copyEndpoint(n));
        EXPECT_THAT(lists.records, ElementsAre(keptRecord(3)));
        EXPECT_THAT(lists.typeAndSubType, ElementsAre(std::pair<std::uint8_t, std::uint8_t>{3, 1}));
    }
    EXPECT_TRUE(logMentions("new copy: " + identityText(copyRecord(3).identity)));
}

TEST_F(RendezvousTest, SilentCopiesLeaveTheListsOnTheSweep)
{
    announce(1);
    announce(2);
    clock.advanceSeconds(30);
    announce(2);
    clock.advanceSeconds(14);
    server.forgetSilentCopies();
    EXPECT_EQ(server.copies().size(), 2u);

    clock.advanceSeconds(1); // copy 1 silent for 45 s
    server.forgetSilentCopies();
    EXPECT_EQ(server.copies().size(), 1u);
    EXPECT_TRUE(logMentions("copy forgotten: " + identityText(copyRecord(1).identity)));
    socket.sent.clear();
    announce(3);
    EXPECT_THAT(othersListedTo(3), ElementsAre(keptRecord(2)));

    // Back again, it is news to the others.
    socket.sent.clear();
    announce(1);
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(2)).records, ElementsAre(keptRecord(1)));
}

class RendezvousCapacityTest : public RendezvousTest {
protected:
    RendezvousCapacityTest()
        : RendezvousTest(settingsWith([](auto& s) {
              s.maxCopies = 2;
              s.forgetAfterSeconds = 90;
          }))
    {
    }
};

TEST_F(RendezvousCapacityTest, FullTableRefusesNewcomersShortlyUntilACopyFallsSilent)
{
    announce(1);
    announce(2);
    socket.sent.clear();
    announce(3);
    announce(4);
    EXPECT_EQ(server.copies().size(), 2u);
    const auto refusal = socket.sentTo(copyEndpoint(3));
    ASSERT_EQ(refusal.size(), 1u) << "a refused copy gets no list";
    EXPECT_EQ(refusal[0].bytes, (std::vector<std::uint8_t>{12, 0, 148, 2, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(socket.sentTo(copyEndpoint(1)).empty()) << "nor is a refused copy pushed";

    clock.advanceSeconds(91);
    announce(1);
    announce(3); // copy 2 is silent: its place goes to copy 3
    EXPECT_TRUE(server.copies().findLive(copyRecord(3).identity, clock.nowSeconds()));
    EXPECT_FALSE(server.copies().findLive(copyRecord(2).identity, clock.nowSeconds()));
}

std::vector<HostRecord> recordsIn(const std::vector<const ListGroup::Datagram*>& datagrams)
{
    std::vector<HostRecord> all;
    for (const auto* datagram : datagrams) {
        auto bytes = *datagram;
        EXPECT_EQ(expandCompressedDatagram(bytes, ControlDatagram::kMaxSize), LzwStatus::Ok);
        const auto records = parseRecordList(ByteSpan(bytes).subspan(ControlDatagram::kSize));
        EXPECT_TRUE(records);
        if (records)
            all.insert(all.end(), records->begin(), records->end());
    }
    return all;
}

TEST(CopyTable, CopiesBeyondOneGroupStartTheNextAndFreedSlotsAreReused)
{
    CopyTable table(10'000, 45, 10'000);
    const auto record = [](int n) {
        auto r = keptRecord(n % 250);
        r.identity[0] = static_cast<std::uint8_t>(n);
        r.identity[1] = static_cast<std::uint8_t>(n >> 8);
        return r;
    };
    for (int n = 0; n < 2049; ++n)
        ASSERT_NE(table.admit(record(n), 1000 + (n == 5 ? 0 : 100)), nullptr);
    EXPECT_EQ(table.groups(), 2u);
    EXPECT_EQ(table.groupOf(*table.find(record(0).identity)).members(), ListGroup::kSlots);
    const KeptCopy& last = *table.find(record(2048).identity);
    EXPECT_EQ(last.group, 1u);
    const auto lastList = recordsIn(table.fullList(last));
    EXPECT_GE(lastList.size(), ListGroup::kSlots) << "topped up from the first group to a whole table";
    EXPECT_LT(lastList.size(), ListGroup::kSlots + ListGroup::kChunkSlots);
    EXPECT_EQ(lastList.front(), record(2048));

    EXPECT_EQ(table.forgetSilent(1045).size(), 1u); // copy 5, heard at 1000
    KeptCopy* late = table.admit(record(3000), 1100);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->group, 0u) << "the hole in the first group is filled first";
    EXPECT_EQ(late->slot, 5u);
}

TEST(RecordListDatagrams, RecordsThatDoNotCompressAreSplitToStayUnderTheLimit)
{
    std::vector<HostRecord> records;
    std::uint32_t state = 12345;
    for (int n = 0; n < 70; ++n) {
        HostRecord r = keptRecord(n);
        auto* bytes = reinterpret_cast<std::uint8_t*>(&r.lanSecondary);
        for (std::size_t i = 0; i < sizeof r.lanSecondary; ++i)
            bytes[i] = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 24);
        for (auto& b : r.hosting)
            b = static_cast<std::uint8_t>(0x80 | ((state = state * 1103515245u + 12345u) >> 25));
        records.push_back(r);
    }
    const auto datagrams = buildRecordListDatagrams(ControlType::Records, 0, records);
    std::vector<const ListGroup::Datagram*> pointers;
    for (const auto& datagram : datagrams) {
        EXPECT_LE(datagram.size(), ControlDatagram::kSize + kMaxListPayload);
        pointers.push_back(&datagram);
    }
    EXPECT_GT(datagrams.size(), 3u) << "32 such records do not fit in one datagram";
    EXPECT_EQ(recordsIn(pointers), records);
}

TEST(ListGroup, ListIsRebuiltWhereAMemberChangedAndChangesAreCounted)
{
    ListGroup group;
    for (int n = 1; n <= 45; ++n)
        group.take(keptRecord(n));
    ASSERT_EQ(group.fullList().size(), 2u) << "chunks of 32 slots";
    const std::uint64_t listed = group.version();
    auto renamed = keptRecord(30);
    renamed.setNickname("renamed");
    group.update(29, renamed);

    std::vector<const ListGroup::Datagram*> datagrams;
    for (const auto& chunk : group.fullList())
        for (const auto& datagram : *chunk.datagrams)
            datagrams.push_back(&datagram);
    const auto all = recordsIn(datagrams);
    EXPECT_EQ(all.size(), 45u);
    EXPECT_EQ(all[29], renamed);
    EXPECT_THAT(*group.changedSince(listed, 10), ElementsAre(renamed));
    EXPECT_EQ(recordsIn(group.chunksChangedSince(listed)).size(), 32u) << "the first chunk only";
    group.take(keptRecord(46));
    EXPECT_EQ(group.changedSince(listed, 1), std::nullopt) << "over the limit";
}

// A folder-listing request from copy 2 for copy 1, relayed through the server.
std::vector<std::uint8_t> relayedRequest(std::uint8_t subType = 0)
{
    auto requester = copyRecord(2);
    requester.hosting = copyRecord(1).identity;
    auto payload = *encodeTextRequest(RequestKind::FolderListing, 0, 7, requester, "\\share");
    return controlDatagram(ControlType::Request, subType, payload);
}

TEST_F(RendezvousTest, RelayedRequestGoesToTheTargetWithTheRequesterAddressWrittenIn)
{
    announce(1);
    announce(2);
    socket.sent.clear();
    const Endpoint requester{0xCB007108, 41000}; // where the request came from, not what copy 2 announced
    const auto request = relayedRequest();
    socket.receive(request, requester);

    ASSERT_EQ(socket.sent.size(), 1u);
    EXPECT_EQ(socket.sent[0].to, copyEndpoint(1));
    auto expected = request;
    expected[3] = 1;                                            // answer the requester, not the server
    const std::uint8_t mapped[] = {203, 0, 113, 8, 0x28, 0xA0}; // record bytes 16-21 at datagram offset 36
    std::copy(std::begin(mapped), std::end(mapped), expected.begin() + 36);
    EXPECT_EQ(socket.sent[0].bytes, expected);
    EXPECT_TRUE(logMentions("relayed request from 203.0.113.8:41000"));
}

TEST_F(RendezvousTest, RelayedRequestIsDroppedForAnUnknownOrSilentTargetOrAnotherSubType)
{
    announce(2);
    socket.sent.clear();
    socket.receive(relayedRequest(), copyEndpoint(2));
    EXPECT_TRUE(socket.sent.empty()) << "target unknown";

    announce(1);
    socket.sent.clear();
    socket.receive(relayedRequest(1), copyEndpoint(2));
    EXPECT_TRUE(socket.sent.empty()) << "already forwarded once";

    clock.advanceSeconds(90);
    socket.receive(relayedRequest(), copyEndpoint(2));
    EXPECT_TRUE(socket.sent.empty()) << "target silent";
}

// A reliable-transport call from copy 2 to copy 1 through the server (UDT_RELAY).
std::vector<std::uint8_t> udtRelay(std::uint8_t type = 0x80)
{
    auto caller = copyRecord(2);
    caller.hosting = copyRecord(1).identity;
    std::vector<std::uint8_t> packet{0x98, 0xFF, 5, 0, 60, 0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0};
    const auto record = encodeHostRecord(caller);
    packet.insert(packet.end(), record.begin(), record.end());
    return packet;
}

TEST_F(RendezvousTest, UdtRelayReachesTheCalleeAsACallCarryingTheCallerAddress)
{
    announce(1);
    announce(2);
    socket.sent.clear();
    socket.receive(udtRelay(), {0xCB007108, 41000});

    ASSERT_EQ(socket.sent.size(), 1u);
    EXPECT_EQ(socket.sent[0].to, copyEndpoint(1));
    auto expected = udtRelay();
    expected[7] = 0x08; // UDT_CALL
    const std::uint8_t mapped[] = {203, 0, 113, 8, 0x28, 0xA0};
    std::copy(std::begin(mapped), std::end(mapped), expected.begin() + 16 + 16);
    expected[16 + 40] = 1; // the call came through a third party
    EXPECT_EQ(socket.sent[0].bytes, expected);

    socket.sent.clear();
    socket.receive(udtRelay(0x08), {0xCB007108, 41000});
    EXPECT_TRUE(socket.sent.empty()) << "only UDT_RELAY is passed on";
}

} // namespace
} // namespace vandry::testing
