#include "discovery_fakes.h"

#include "discovery/lzw.h"
#include "discovery/number_field.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
constexpr std::uint8_t kServerAnswer = 2;

Bytes records(std::initializer_list<unsigned> copies)
{
    std::vector<HostRecord> list;
    for (unsigned n : copies)
        list.push_back(hostRecord(n));
    return encodeRecordList(list);
}

// A type 2 datagram whose payload after `plain` bytes is LZW data.
Bytes compressedRecords(const Bytes& payload, std::uint8_t plain, ByteSpan packed)
{
    Bytes wire(payload.begin(), payload.begin() + plain);
    wire.insert(wire.end(), packed.begin(), packed.end());
    auto h = header(2, 0, 9);
    h.compressed = 1;
    h.plainPrefix = plain;
    return datagram(h, wire);
}

class ReceiveTest : public EndpointTest {
protected:
    // The echo word as it goes out: the answer to a type 1 carries it at offset 4.
    std::uint16_t echoOnNextSend()
    {
        deliver(header(1), {});
        const auto sent = socket->takeSent();
        return sent.empty() ? 0xFFFF : sent.back().header().word;
    }
    bool knows(unsigned copy) { return table.find(identity(copy), false).has_value(); }
};
} // namespace

TEST_F(ReceiveTest, ServerAnswerMakesTheSmallestAnsweringServerTheBest)
{
    useServers({"10.0.0.1", "localhost", "10.0.0.3"});
    // Servers are matched by dotted text: a named one never matches, nor does an unlisted source.
    deliver(header(0, kServerAnswer, 4001, 0x5D000002), {}, {0x7F000001, 3001});
    deliver(header(0, kServerAnswer, 4001, 0x5D000002), {}, {0x0A000009, 3001});
    EXPECT_EQ(settings.servers.best(), -1);
    deliver(header(0, kServerAnswer, 4001, 0x5D000002), {}, {0x0A000003, 3002});
    EXPECT_EQ(settings.servers.best(), 2);
    EXPECT_EQ(table.local().host.mapAddr, 0x5D000002u);
    EXPECT_EQ(table.local().host.mapPort, 4001);

    // Another sub-type, or the same server again, changes nothing.
    deliver(header(0, 1, 4002, 0x5D000003), {}, {0x0A000001, 3000});
    deliver(header(0, kServerAnswer, 4002, 0x5D000003), {}, {0x0A000003, 3002});
    EXPECT_EQ(settings.servers.best(), 2);
    EXPECT_EQ(table.local().host.mapAddr, 0x5D000002u);

    // Server 0 takes over and its view of our address wins; server 2 cannot take it back.
    deliver(header(0, kServerAnswer, 4003, 0x5D000004), {}, {0x0A000001, 3000});
    EXPECT_EQ(settings.servers.best(), 0);
    EXPECT_EQ(table.local().host.mapAddr, 0x5D000004u);
    EXPECT_EQ(table.local().host.mapPort, 4003);
    deliver(header(0, kServerAnswer, 4005, 0x5D000005), {}, {0x0A000003, 3002});
    EXPECT_EQ(settings.servers.best(), 0);
    EXPECT_EQ(table.local().host.mapPort, 4003);
    EXPECT_TRUE(socket->takeSent().empty());
}

TEST_F(ReceiveTest, AnnounceFromAnUnknownCopyIsAnsweredButNotRecorded)
{
    const auto announced = encodeHostRecord(hostRecord(5));
    deliver(header(1, 1), announced);
    const auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, kPeer);
    EXPECT_EQ(sent[0].header().type, 2);
    EXPECT_EQ(sent[0].header().subType, 0);
    EXPECT_EQ(sent[0].header().address, 0u);
    EXPECT_EQ(sent[0].payloadBytes(), encodeHostRecord(table.local().host));
    EXPECT_FALSE(knows(5));
    EXPECT_EQ(table.listed().size(), 1u);
}

TEST_F(ReceiveTest, RecordListsAreMergedAndAnnouncedByTypeAndSubType)
{
    useServers({"10.0.0.1"});
    deliver(header(2, 0, 0x1234), records({1, 2}), kServer);
    EXPECT_TRUE(knows(1));
    EXPECT_TRUE(knows(2));
    EXPECT_EQ(listener.neighbours, 1);
    EXPECT_EQ(echoOnNextSend(), 0x1234);

    deliver(header(3, 0, 0x2222), records({3}), kServer);
    EXPECT_TRUE(knows(3));
    EXPECT_EQ(listener.neighbours, 1); // a type 3 update is announced only with sub-type 1
    deliver(header(3, 1, 0x3333), records({4}), kServer);
    EXPECT_EQ(listener.neighbours, 2);
    EXPECT_EQ(echoOnNextSend(), 0x3333);

    // Servers' own record lists: merged quietly, and their word is no echo word.
    deliver(header(145, 0, 0x4444), records({6}), kServer);
    EXPECT_TRUE(knows(6));
    EXPECT_EQ(listener.neighbours, 2);
    EXPECT_EQ(echoOnNextSend(), 0x3333);
}

TEST_F(ReceiveTest, PeersAreHeardOnlyForTheirOwnRecordAndNeverForServerRecordsOrLists)
{
    useServers({"10.0.0.1"});
    deliver(header(2), records({1}), kPeer);
    EXPECT_TRUE(knows(1));
    deliver(header(2), records({2, 3}), kPeer);
    deliver(header(145), records({4}), kPeer);
    EXPECT_FALSE(knows(2) || knows(3) || knows(4));
    EXPECT_EQ(listener.neighbours, 1);

    deliver(header(146), encodeServerList(std::vector<Endpoint>{{0x0B000001, 5000}}), kPeer);
    EXPECT_EQ(settings.servers.entry(0).address, "10.0.0.1");
    EXPECT_EQ(settings.servers.probeState.load(), 0);
}

TEST_F(ReceiveTest, CompressedRecordListsAreExpandedBeforeMerging)
{
    useServers({"10.0.0.1"});
    unsigned first = 1;
    for (std::uint8_t plain : {0, 60, 61}) {
        SCOPED_TRACE(plain);
        const auto payload = records({first, first + 1, first + 2, first + 3, first + 4, first + 5});
        const auto packed = lzwEncode(ByteSpan(payload).subspan(plain));
        const auto wire = compressedRecords(payload, plain, packed);
        ASSERT_LT(wire.size(), 12 + payload.size());
        socket->deliver(wire, kServer);
        EXPECT_TRUE(knows(first));
        EXPECT_TRUE(knows(first + 5));
        EXPECT_EQ(echoOnNextSend(), 9);
        first += 6;
    }
    EXPECT_EQ(listener.neighbours, 3);
}

TEST_F(ReceiveTest, CorruptOrOversizedCompressedListsAreDropped)
{
    const auto payload = records({1, 2});
    auto packed = lzwEncode(payload);
    packed.resize(packed.size() / 2); // ends before its end code
    socket->deliver(compressedRecords(payload, 0, packed), kPeer);

    // A plain prefix claimed beyond the payload.
    auto h = header(2);
    h.compressed = 1;
    h.plainPrefix = 200;
    socket->deliver(datagram(h, lzwEncode(payload)), kPeer);

    // 1100 records expand past 65535 bytes.
    std::vector<HostRecord> many(1100, hostRecord(9));
    const auto huge = encodeRecordList(many);
    socket->deliver(compressedRecords(huge, 0, lzwEncode(huge)), kPeer);

    EXPECT_FALSE(knows(1));
    EXPECT_FALSE(knows(9));
    EXPECT_EQ(listener.neighbours, 0);
}

TEST_F(ReceiveTest, RepliesGoToTheHandlerOfTheirKind)
{
    auto reply = encodeKeyRequest(7, hostRecord(5), FileKey{});
    reply[2] = 0;
    deliver(header(6), reply);
    reply[2] = 1;
    deliver(header(6), reply);
    reply[2] = 2;
    deliver(header(6), reply);
    reply[2] = 3; // no such kind
    deliver(header(6), reply);
    ASSERT_EQ(listener.queryReplies.size(), 1u);
    EXPECT_EQ(listener.querySources[0], kPeer);
    ASSERT_EQ(listener.listingReplies.size(), 1u);
    ASSERT_EQ(listener.sourceReplies.size(), 1u);
    EXPECT_EQ(listener.sourceReplies[0].size(), reply.size());
    EXPECT_EQ(listener.sourceReplies[0][2], 2);

    // Shorter than a reply header, or a header length beyond the payload.
    reply[2] = 0;
    deliver(header(6), ByteSpan(reply).first(67));
    storeU16le(reply, 0, static_cast<std::uint16_t>(reply.size() + 1));
    deliver(header(6), reply);
    storeU16le(reply, 0, 67);
    deliver(header(6), reply);
    EXPECT_EQ(listener.queryReplies.size(), 1u);
}

TEST_F(ReceiveTest, PunchProbeRecordsTheProberAndIsAnsweredOnlyOnOurLanAddress)
{
    const Endpoint prober{0x5E000007, 61000};
    deliver(header(144, 0, 0, 0x0A0A0A0A), identity(7), prober);
    const auto slot = table.find(identity(7), false);
    ASSERT_TRUE(slot);
    EXPECT_EQ(table.at(*slot).host.nickname(), "(TEMP)");
    EXPECT_EQ(table.at(*slot).observedAddr, prober.address);
    EXPECT_EQ(table.at(*slot).observedPort, prober.port);
    EXPECT_EQ(table.at(*slot).lastSeen, static_cast<std::uint32_t>(clock.nowSeconds()));
    EXPECT_TRUE(socket->takeSent().empty());

    const Ipv4 ourSecondary = table.local().host.lanSecondary;
    deliver(header(144, 0, 0, ourSecondary), identity(7), prober);
    const auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, prober);
    EXPECT_EQ(sent[0].header().type, 144);
    EXPECT_EQ(sent[0].header().subType, 1);
    EXPECT_EQ(sent[0].header().address, ourSecondary);
    EXPECT_EQ(sent[0].payloadBytes(), Bytes(table.local().host.identity.begin(), table.local().host.identity.end()));

    // No identity, no entry.
    deliver(header(144, 0, 0, ourSecondary), ByteSpan(identity(8)).first(15), prober);
    EXPECT_FALSE(knows(8));
    EXPECT_TRUE(socket->takeSent().empty());
}

TEST_F(ReceiveTest, PunchAnswerConfirmsTheDirectAddressOfAKnownCopyOnly)
{
    deliver(header(2), records({3}));
    deliver(header(144, 1, 0, 0xC0A80003), identity(3));
    EXPECT_EQ(table.at(*table.find(identity(3), false)).directAddr, 0xC0A80003u);
    deliver(header(144, 1, 0, 0xC0A80004), identity(4));
    EXPECT_FALSE(knows(4));
}

TEST_F(ReceiveTest, ServerListSetsAtMostEightServersAndAsksForOneMoreCheck)
{
    std::vector<Endpoint> list;
    for (std::uint32_t i = 0; i < 10; ++i)
        list.push_back({0x0B000000u + i, static_cast<std::uint16_t>(5000 + i)});
    useServers({"10.0.0.1"});
    deliver(header(146), encodeServerList(list), kServer);
    const auto servers = settings.servers.entries();
    EXPECT_EQ(servers[0], (ServerList::Entry{"11.0.0.0", 5000}));
    EXPECT_EQ(servers[7], (ServerList::Entry{"11.0.0.7", 5007}));
    EXPECT_EQ(settings.servers.probeState.load(), 1);
    EXPECT_EQ(listener.serverLists, 1);

    // Later lists are counted but ask for nothing more; the list's own servers are servers now.
    deliver(header(146), encodeServerList(std::span(list).first(2)), {0x0B000001, 5001});
    EXPECT_EQ(settings.servers.probeState.load(), 2);
    EXPECT_EQ(settings.servers.entry(1).address, "11.0.0.1");
    EXPECT_EQ(listener.serverLists, 1);

    // While probing, a list moves the state from 2 to 3.
    settings.servers.probeState = ServerProbe::kProbing;
    deliver(header(146), encodeServerList(std::span(list).first(1)), {0x0B000001, 5001});
    EXPECT_EQ(settings.servers.probeState.load(), 3);
    EXPECT_EQ(listener.serverLists, 1);
}

TEST_F(ReceiveTest, ServerListForAnotherIdentityTagIsIgnored)
{
    auto local = table.local().host;
    local.identity[6] = 0x34;
    local.identity[7] = 0x12;
    table.setLocal(local);
    useServers({"10.0.0.1"});
    const std::vector<Endpoint> list{{0x0B000001, 5000}};
    deliver(header(146, 0, 0, addressFieldFromNumber(0x1235)), encodeServerList(list), kServer);
    deliver(header(146, 0, 0, addressFieldFromNumber(0x00341200)), encodeServerList(list), kServer);
    EXPECT_EQ(settings.servers.entry(0).address, "10.0.0.1");
    EXPECT_EQ(settings.servers.probeState.load(), 0);

    deliver(header(146, 0, 0, addressFieldFromNumber(0x1234)), encodeServerList(list), kServer);
    EXPECT_EQ(settings.servers.entry(0).address, "11.0.0.1");
    EXPECT_EQ(listener.serverLists, 1);
}

TEST_F(ReceiveTest, EchoRequestIsSentBackWithItsHeaderBytes)
{
    deliver(header(2, 0, 0x0BAD), records({1}));
    auto h = header(147, 0, 0x7777, 0x01020304);
    h.compressed = 9;
    h.plainPrefix = 8;
    const Bytes payload{1, 2, 3, 4, 5};
    deliver(h, payload);
    deliver(header(147, 1), payload); // an answer is not answered
    const auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, kPeer);
    auto expected = h;
    expected.subType = 1;
    expected.word = 0x0BAD;
    expected.length = 17;
    EXPECT_EQ(sent[0].header(), expected);
    EXPECT_EQ(sent[0].payloadBytes(), payload);
}

TEST_F(ReceiveTest, ReliableTransportPacketsArePassedOnUnread)
{
    Bytes packet(40, 0xEE);
    storeU16le(packet, 0, ControlDatagram::kReliableMarker);
    socket->deliver(packet, kPeer);
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].bytes, packet);
    EXPECT_EQ(sink.received[0].destination, kPeer);

    // Another length field that disagrees: nobody's datagram.
    storeU16le(packet, 0, 41);
    socket->deliver(packet, kPeer);
    EXPECT_EQ(sink.received.size(), 1u);
}

TEST_F(ReceiveTest, MalformedDatagramsChangeNothing)
{
    const auto list = records({1, 2});
    auto truncated = datagram(header(2), list);
    truncated.pop_back();
    auto wrongField = datagram(header(2), list);
    storeU16le(wrongField, 0, 13);
    const std::vector<Bytes> bad{
        {},
        {12},
        Bytes{12, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0}, // 11 bytes claiming 12
        truncated,
        wrongField,
        datagram(header(2), ByteSpan(list).first(61)),
        datagram(header(2), {}),
        datagram(header(145), ByteSpan(list).first(119)),
        datagram(header(7), list),
        datagram(header(0xFF), list),
        datagram(header(144), {}),
        datagram(header(5), list),
    };
    for (const auto& bytes : bad)
        socket->deliver(bytes, kPeer);
    EXPECT_EQ(table.listed().size(), 1u);
    EXPECT_EQ(listener.neighbours, 0);
    EXPECT_TRUE(socket->takeSent().empty());
    EXPECT_TRUE(sink.received.empty());
}
