// Datagrams carried between two registered copies in type 149 envelopes.

#include <gtest/gtest.h>

#include "discovery/relay_envelope.h"
#include "rendezvous_fixture.h"

namespace vandry::testing {
namespace {

std::vector<std::uint8_t> envelope(int from, int to, std::size_t innerSize = 100)
{
    const std::vector<std::uint8_t> inner(innerSize, 0xA5);
    return *encodeRelayEnvelope(RelayEnvelope::kToServer, copyRecord(from).identity, copyRecord(to).identity, inner);
}

class RendezvousRelayTest : public RendezvousTest {
protected:
    explicit RendezvousRelayTest(RendezvousSettings settings = {}) : RendezvousTest(settings)
    {
        announce(1);
        announce(2);
        socket.sent.clear();
    }
};

TEST_F(RendezvousRelayTest, EnvelopeReachesTheTargetUnchangedButForItsSubType)
{
    const auto sent = envelope(2, 1);
    socket.receive(sent, copyEndpoint(2));

    ASSERT_EQ(socket.sent.size(), 1u);
    EXPECT_EQ(socket.sent[0].to, copyEndpoint(1));
    auto expected = sent;
    expected[3] = RelayEnvelope::kFromServer;
    EXPECT_EQ(socket.sent[0].bytes, expected);
    EXPECT_EQ(server.stats().relayed, 1u);
    EXPECT_EQ(server.stats().relayedBytes, sent.size());
}

TEST_F(RendezvousRelayTest, OnlyAVerifiedSenderAtItsOwnEndpointReachesALiveTarget)
{
    socket.receive(envelope(2, 1), {copyEndpoint(2).address, 9999});
    EXPECT_TRUE(socket.sent.empty()) << "another port of the sender's address";
    socket.receive(envelope(3, 1), copyEndpoint(3));
    EXPECT_TRUE(socket.sent.empty()) << "sender never announced";
    socket.receive(envelope(2, 4), copyEndpoint(2));
    EXPECT_TRUE(socket.sent.empty()) << "unknown target";
    socket.receive(envelope(2, 2), copyEndpoint(2));
    EXPECT_TRUE(socket.sent.empty()) << "to itself";

    // Copy 3 announces but never echoes its check: not verified.
    socket.receive(announceDatagram(copyRecord(3)), copyEndpoint(3));
    socket.sent.clear();
    socket.receive(envelope(3, 1), copyEndpoint(3));
    EXPECT_TRUE(socket.sent.empty()) << "sender unverified";

    clock.advanceSeconds(30);
    announce(2);
    clock.advanceSeconds(20);
    socket.sent.clear();
    socket.receive(envelope(2, 1), copyEndpoint(2));
    EXPECT_TRUE(socket.sent.empty()) << "target silent for 50 s";
    EXPECT_EQ(server.stats().relayed, 0u);
}

TEST_F(RendezvousRelayTest, ForgedShortAndMislabelledEnvelopesAreDropped)
{
    auto fromServer = envelope(2, 1);
    fromServer[3] = RelayEnvelope::kFromServer;
    socket.receive(fromServer, copyEndpoint(2));

    auto longerThanSaid = envelope(2, 1);
    longerThanSaid.push_back(0);
    socket.receive(longerThanSaid, copyEndpoint(2));

    auto noInner = envelope(2, 1);
    noInner.resize(RelayEnvelope::kOverhead);
    storeU16le(noInner, 0, static_cast<std::uint16_t>(noInner.size()));
    socket.receive(noInner, copyEndpoint(2));

    auto cutInIdentity = envelope(2, 1);
    cutInIdentity.resize(20);
    storeU16le(cutInIdentity, 0, 20);
    socket.receive(cutInIdentity, copyEndpoint(2));

    EXPECT_TRUE(socket.sent.empty());
}

class RendezvousRelayBudgetTest : public RendezvousRelayTest {
protected:
    RendezvousRelayBudgetTest()
        : RendezvousRelayTest(settingsWith([](auto& s) {
              s.relay.copyBytes = {10'000, 10'000};
              s.relay.copyPackets = {50, 50};
              s.relay.totalBytes = {15'000, 15'000};
          }))
    {
        announce(3);
        socket.sent.clear();
    }
    std::size_t carried(int from, int to, int count, std::size_t innerSize)
    {
        const std::size_t before = socket.sent.size();
        for (int i = 0; i < count; ++i)
            socket.receive(envelope(from, to, innerSize), copyEndpoint(from));
        return socket.sent.size() - before;
    }
};

TEST_F(RendezvousRelayBudgetTest, EachCopyHasItsBytesAndPacketsAndTheServerItsTotal)
{
    const std::size_t size = 1000 - RelayEnvelope::kOverhead; // 1000-byte envelopes
    EXPECT_EQ(carried(2, 1, 12, size), 10u) << "copy 2's 10 000 bytes";
    EXPECT_EQ(carried(3, 1, 12, size), 5u) << "what is left of the server's 15 000";
    EXPECT_EQ(server.stats().relayOverBudget, 9u);

    clock.advanceMs(500); // 7 500 bytes for the server, 5 000 for each copy
    EXPECT_EQ(carried(2, 1, 10, size), 5u);
    EXPECT_EQ(carried(3, 1, 10, size), 2u);

    clock.advanceSeconds(2);
    EXPECT_EQ(carried(2, 1, 60, 1), 50u) << "small envelopes meet the packet limit first";
}

} // namespace
} // namespace vandry::testing
