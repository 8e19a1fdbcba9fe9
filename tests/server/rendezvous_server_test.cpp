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
    EXPECT_TRUE(socket.sent.empty()) << "nobody else to list yet";
    EXPECT_EQ(server.copies().findLive(copyRecord(1).identity, clock.nowSeconds()), keptRecord(1));

    announce(2);
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(2)).records, ElementsAre(keptRecord(1)));
}

TEST_F(RendezvousTest, AnswerListsTheOtherLiveCopiesButNeverTheAnnouncer)
{
    for (int n = 1; n <= 3; ++n)
        announce(n);
    socket.sent.clear();
    announce(1);

    const auto lists = listsSentTo(socket, copyEndpoint(1));
    EXPECT_THAT(lists.records, UnorderedElementsAre(keptRecord(2), keptRecord(3)));
    for (const auto& [type, subType] : lists.typeAndSubType)
        EXPECT_EQ(type, 2) << "a type 2 list makes the copy refresh its window";
    EXPECT_EQ(socket.sent.size(), socket.sentTo(copyEndpoint(1)).size()) << "a known copy is not pushed again";
}

TEST_F(RendezvousTest, LongListIsSplitIntoSmallCompressedDatagramsThatExpandToEveryOtherCopy)
{
    constexpr int kCopies = 101;
    for (int n = 1; n <= kCopies; ++n)
        announce(n);
    socket.sent.clear();
    announce(kCopies);

    const auto sent = socket.sentTo(copyEndpoint(kCopies));
    ASSERT_GE(sent.size(), 5u);
    bool anyCompressed = false;
    for (const auto& datagram : sent) {
        EXPECT_LE(datagram.bytes.size(), ControlDatagram::kSize + 1200);
        anyCompressed = anyCompressed || datagram.bytes[6] == 1;
    }
    EXPECT_TRUE(anyCompressed);

    std::vector<HostRecord> expected;
    for (int n = 1; n < kCopies; ++n)
        expected.push_back(keptRecord(n));
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(kCopies)).records, UnorderedElementsAreArray(expected));
}

TEST_F(RendezvousTest, NewcomerIsPushedToTheKnownCopiesAndAMovedCopyAgain)
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

    // Copy 3's translator gave it a new port: the others must learn where it is now.
    socket.sent.clear();
    const Endpoint moved{copyEndpoint(3).address, 50000};
    socket.receive(announceDatagram(copyRecord(3)), moved);
    auto movedRecord = keptRecord(3);
    movedRecord.mapPort = 50000;
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(1)).records, ElementsAre(movedRecord));
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(2)).records, ElementsAre(movedRecord));
}

TEST_F(RendezvousTest, SilentCopiesDropOutOfListsAtOnceAndOutOfTheTableOnTheSweep)
{
    announce(1);
    announce(2);
    clock.advanceSeconds(30);
    announce(2);
    clock.advanceSeconds(14);
    socket.sent.clear();
    announce(3);
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(3)).records, UnorderedElementsAre(keptRecord(1), keptRecord(2)));

    clock.advanceSeconds(1); // copy 1 silent for 45 s
    socket.sent.clear();
    announce(3);
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(3)).records, ElementsAre(keptRecord(2)));
    EXPECT_EQ(server.copies().size(), 3u);
    server.forgetSilentCopies();
    EXPECT_EQ(server.copies().size(), 2u);
    EXPECT_TRUE(logMentions("copy forgotten: " + identityText(copyRecord(1).identity)));

    // Back again, it is news to the others.
    socket.sent.clear();
    announce(1);
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(2)).records, ElementsAre(keptRecord(1)));
}

class RendezvousCapacityTest : public RendezvousTest {
protected:
    RendezvousCapacityTest() : RendezvousTest({.maxCopies = 2, .forgetAfterSeconds = 90}) {}
};

TEST_F(RendezvousCapacityTest, FullTableRefusesNewcomersUntilACopyFallsSilent)
{
    announce(1);
    announce(2);
    socket.sent.clear();
    announce(3);
    announce(4);
    EXPECT_EQ(server.copies().size(), 2u);
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(3)).records, UnorderedElementsAre(keptRecord(1), keptRecord(2)))
        << "a refused copy still sees the others";
    EXPECT_TRUE(socket.sentTo(copyEndpoint(1)).empty()) << "nor is a refused copy pushed";
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& l) { return l.find("table full") == 0; }), 1);

    clock.advanceSeconds(91);
    announce(1);
    announce(3); // copy 2 is silent: its place goes to copy 3
    EXPECT_TRUE(server.copies().findLive(copyRecord(3).identity, clock.nowSeconds()));
    EXPECT_FALSE(server.copies().findLive(copyRecord(2).identity, clock.nowSeconds()));
}

TEST(CopyTable, ListPastItsLimitHoldsTheMostRecentlyHeard)
{
    CopyTable table(10, 90);
    for (int n = 1; n <= 5; ++n)
        table.remember(keptRecord(n), 1000 + n);
    EXPECT_THAT(table.liveOthers(copyRecord(5).identity, 1010, 3),
                UnorderedElementsAre(keptRecord(2), keptRecord(3), keptRecord(4)));
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
