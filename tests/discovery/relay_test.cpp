// Traffic to neighbours that only the server's relay reaches: the envelope, when to use it, the
// stand-in endpoints of the datagram transport, and the endpoint's side of it.

#include "discovery_fakes.h"

#include "discovery/relay_envelope.h"
#include "discovery/relay_fallback.h"
#include "discovery/relayed_peers.h"
#include "discovery/relaying_socket.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

TEST(RelayEnvelope, GoldenBytesAndRefusals)
{
    const Bytes inner{0xAA, 0xBB};
    const auto bytes = *encodeRelayEnvelope(RelayEnvelope::kToServer, identity(1), identity(2), inner);
    Bytes expected{46, 0, 149, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const auto from = identity(1);
    const auto to = identity(2);
    expected.insert(expected.end(), from.begin(), from.end());
    expected.insert(expected.end(), to.begin(), to.end());
    expected.insert(expected.end(), inner.begin(), inner.end());
    EXPECT_EQ(bytes, expected);

    const auto parsed = parseRelayEnvelope(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sender, from);
    EXPECT_EQ(parsed->receiver, to);
    EXPECT_EQ(Bytes(parsed->inner.begin(), parsed->inner.end()), inner);

    EXPECT_FALSE(encodeRelayEnvelope(0, from, to, {}));
    EXPECT_FALSE(encodeRelayEnvelope(0, from, to, Bytes(RelayEnvelope::kMaxInner + 1)));
    EXPECT_TRUE(encodeRelayEnvelope(0, from, to, Bytes(RelayEnvelope::kMaxInner)));

    auto unknownSubType = bytes;
    unknownSubType[3] = 2;
    auto lengthSaysMore = bytes;
    lengthSaysMore[0] = 47;
    auto noInner = Bytes(bytes.begin(), bytes.begin() + RelayEnvelope::kOverhead);
    noInner[0] = RelayEnvelope::kOverhead;
    auto otherType = bytes;
    otherType[2] = 147;
    for (const auto& bad :
         {unknownSubType, lengthSaysMore, noInner, otherType, Bytes(bytes.begin(), bytes.begin() + 11)})
        EXPECT_FALSE(parseRelayEnvelope(bad));
}

TEST(RelayFallback, TheRelayIsTakenAfterThreeSecondsWithoutADirectAnswer)
{
    RelayFallback fallback;
    const auto peer = identity(4);
    using Route = RelayFallback::Route;
    EXPECT_EQ(fallback.indirectAttempt(peer, 1000), Route::Direct);
    EXPECT_EQ(fallback.indirectAttempt(peer, 3999), Route::Direct);
    EXPECT_EQ(fallback.indirectAttempt(peer, 4000), Route::RelayFromNow);
    EXPECT_EQ(fallback.indirectAttempt(peer, 5000), Route::Relay);
    EXPECT_EQ(fallback.indirectAttempt(identity(5), 5000), Route::Direct) << "another neighbour waits its own time";

    fallback.heardDirectly(peer, 6000);
    EXPECT_EQ(fallback.indirectAttempt(peer, 6000 + RelayFallback::kDirectHoldMs - 1), Route::Direct);
    // Once the hold has run out, a new spell of attempts waits again before the relay.
    EXPECT_EQ(fallback.indirectAttempt(peer, 6000 + RelayFallback::kDirectHoldMs), Route::Direct);
    EXPECT_EQ(fallback.indirectAttempt(peer, 9000 + RelayFallback::kDirectHoldMs), Route::RelayFromNow);
    // After a long silence, too; across the tick's wrap-around.
    const std::uint32_t later = 9000 + RelayFallback::kDirectHoldMs + RelayFallback::kForgetMs;
    EXPECT_EQ(fallback.indirectAttempt(peer, later), Route::Direct);
    EXPECT_EQ(fallback.indirectAttempt(peer, later + 3000), Route::RelayFromNow);

    RelayFallback wrapping;
    EXPECT_EQ(wrapping.indirectAttempt(peer, 0xFFFFF800u), Route::Direct);
    EXPECT_EQ(wrapping.indirectAttempt(peer, 0x00000100u), Route::Direct);
    EXPECT_EQ(wrapping.indirectAttempt(peer, 0x00000C00u), Route::RelayFromNow);
}

TEST(RelayFallback, TheTableStaysBounded)
{
    RelayFallback fallback;
    for (unsigned n = 0; n < RelayFallback::kMaxPeers + 10; ++n)
        fallback.indirectAttempt(identity(n), 1000);
    EXPECT_LE(fallback.peers(), RelayFallback::kMaxPeers);
}

TEST(RelayingSocket, StandInsAreWrappedToTheServerAndEverythingElsePassesThrough)
{
    FakeDatagramSocket real;
    RelayedPeers peers;
    RelayingSocket socket(real, peers);
    const auto standIn = *peers.standInFor(identity(4));
    EXPECT_EQ(peers.standInFor(identity(4)), standIn);
    EXPECT_NE(peers.standInFor(identity(5)), standIn);
    EXPECT_TRUE(RelayedPeers::isStandIn(standIn));
    EXPECT_FALSE(RelayedPeers::isStandIn(kPeer));
    EXPECT_EQ(peers.peerAt({standIn.address + 5, RelayedPeers::kStandInPort}), std::nullopt);

    const Bytes packet{0x98, 0xFF, 1, 2, 3};
    EXPECT_FALSE(socket.sendTo(packet, standIn)) << "no route yet";
    peers.setRoute({identity(700), kServer});
    ASSERT_TRUE(socket.sendTo(packet, standIn));
    ASSERT_TRUE(socket.sendTo(packet, kPeer));

    const auto sent = real.takeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].destination, kServer);
    EXPECT_EQ(sent[0].bytes, *encodeRelayEnvelope(RelayEnvelope::kToServer, identity(700), identity(4), packet));
    EXPECT_EQ(sent[1].destination, kPeer);
    EXPECT_EQ(sent[1].bytes, packet);
}

class RelayEndpointTest : public EndpointTest {
protected:
    RelayEndpointTest()
    {
        useServers({"10.0.0.1"});
        settings.servers.offerBest(0);
        endpoint->setRelayedPeers(&peers);
        table.merge(std::span(&far, 1), 0);
    }
    std::vector<SentDatagram> envelopesSent()
    {
        auto sent = socket->takeSent();
        std::erase_if(sent, [](const SentDatagram& d) { return d.header().type != 149; });
        return sent;
    }
    Bytes fromServer(const Bytes& inner, const HostIdentity& receiver = identity(kLocalCopy))
    {
        return *encodeRelayEnvelope(RelayEnvelope::kFromServer, far.identity, receiver, inner);
    }

    HostRecord far = hostRecord(4, 0x5E000004);
    RelayedPeers peers;
};

TEST_F(RelayEndpointTest, RequestsGoInEnvelopesOnceTheNeighbourStaysSilentDirectly)
{
    const auto target = table.snapshot(far);
    ASSERT_TRUE(endpoint->sendListingRequest("\\", 1, target));
    EXPECT_TRUE(envelopesSent().empty()) << "the direct ways first";

    clock.advanceSeconds(3);
    ASSERT_TRUE(endpoint->sendListingRequest("\\", 1, target));
    const auto sent = envelopesSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, kServer);
    const auto envelope = parseRelayEnvelope(sent[0].bytes);
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->receiver, far.identity);
    const auto request = parseRequest(envelope->inner.subspan(ControlDatagram::kSize));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->text, "\\");
    EXPECT_EQ(request->header.record.identity, identity(kLocalCopy));
    EXPECT_EQ(request->header.record.nickname(), "copy700") << "the plain form, not the forwarded one";
    EXPECT_NE(logText().find("Relayed: requests to copy4"), std::string::npos);

    // A direct answer from the neighbour: its requests go the ordinary ways again.
    auto reply = encodeKeyRequest(0, far, FileKey{});
    deliver(header(6), reply, {far.mapAddr, far.mapPort});
    ASSERT_TRUE(endpoint->sendListingRequest("\\", 1, target));
    EXPECT_TRUE(envelopesSent().empty());
}

TEST_F(RelayEndpointTest, EnvelopesAreTakenOnlyFromTheBestServerAndForUs)
{
    services.listing = {1, 2, 3};
    const auto request = datagram(header(5), *encodeTextRequest(RequestKind::FolderListing, 0, 1, far, "\\"));
    socket->deliver(fromServer(request), kPeer);
    socket->deliver(fromServer(request), {kServer.address, 3001});
    socket->deliver(fromServer(request, identity(9)), kServer);
    auto toServer = fromServer(request);
    toServer[3] = RelayEnvelope::kToServer;
    socket->deliver(toServer, kServer);
    EXPECT_TRUE(socket->takeSent().empty());
    EXPECT_TRUE(services.listings.empty());

    socket->deliver(fromServer(request), kServer);
    const auto sent = envelopesSent();
    ASSERT_EQ(sent.size(), 1u) << "the answer goes back through the relay";
    EXPECT_EQ(sent[0].destination, kServer);
    const auto answer = parseRelayEnvelope(sent[0].bytes);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->sender, identity(kLocalCopy));
    EXPECT_EQ(answer->receiver, far.identity);
    EXPECT_EQ(answer->inner[2], 6) << "a reply";

    socket->deliver(fromServer(Bytes(answer->inner.begin(), answer->inner.end())), kServer);
    EXPECT_EQ(listener.listingReplies.size(), 1u);
}

TEST_F(RelayEndpointTest, TransportPacketsComeFromTheSendersStandIn)
{
    const Bytes packet{0x98, 0xFF, 0, 0, 0, 0, 0, 8};
    socket->deliver(fromServer(packet), kServer);
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].bytes, packet);
    EXPECT_EQ(sink.received[0].destination, peers.standInFor(far.identity));
    EXPECT_EQ(peers.route()->server, kServer) << "the transport's answers go back the same way";
}

} // namespace
