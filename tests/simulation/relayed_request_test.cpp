#include <gtest/gtest.h>

#include "../discovery/discovery_fakes.h"
#include "server/core/rendezvous_server.h"
#include "simulated_network.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
Ipv4 ip(const char* text)
{
    return *ipv4FromText(text);
}

const Endpoint kServer{ip("198.51.100.1"), 3333};

// One copy on the simulated network: its tables, its endpoint on a simulated socket.
struct SimulatedCopy {
    SimulatedCopy(SimulatedNetwork& network, const Clock& clock, const char* lan, std::uint8_t id, const char* nick)
        : table(clock, makeRecord(lan, id, nick))
    {
        settings.servers.setEntry(0, ipv4ToText(kServer.address), kServer.port);
        auto socket = std::make_unique<SimulatedSocket>(network, ip(lan));
        endpoint = std::make_unique<DiscoveryEndpoint>(
            std::move(socket), DiscoveryContext{settings, table, log, listener, services, sink});
        endpoint->open();
    }
    static HostRecord makeRecord(const char* lan, std::uint8_t id, const char* nick)
    {
        HostRecord record;
        record.identity[8] = id;
        record.lanPrimary = ip(lan);
        record.setNickname(nick);
        return record;
    }
    NeighbourRecord recordOf(const SimulatedCopy& other) const { return table.snapshot(other.table.local().host); }

    AppSettings settings;
    NeighbourTable table;
    EventLog log;
    RecordingListener listener;
    FakeServices services;
    RecordingSink sink;
    std::unique_ptr<DiscoveryEndpoint> endpoint;
};

struct RelayedRequestTest : ::testing::Test {
    RelayedRequestTest()
    {
        network.addTranslator(ip("10.0.0.2"), ip("203.0.113.10"));
        network.addTranslator(ip("192.168.1.5"), ip("203.0.113.20"));
        serverSocket.bind(kServer.port);
        for (SimulatedCopy* copy : {&alice, &bob}) {
            copy->endpoint->probeServer(0);
            network.run();
            copy->endpoint->announce(1);
            network.run();
        }
    }
    ManualClock clock;
    SimulatedNetwork network;
    SimulatedSocket serverSocket{network, kServer.address};
    RendezvousServer server{serverSocket, clock, {}, [](const std::string&) {}};
    SimulatedCopy alice{network, clock, "10.0.0.2", 1, "alice"};
    SimulatedCopy bob{network, clock, "192.168.1.5", 2, "bob"};
};
} // namespace

TEST_F(RelayedRequestTest, CopiesBehindTranslatorsLearnTheirPublicAddressesAndEachOther)
{
    EXPECT_EQ(alice.settings.servers.best(), 0);
    EXPECT_EQ(alice.table.local().host.mapAddr, ip("203.0.113.10"));
    EXPECT_EQ(bob.table.local().host.mapAddr, ip("203.0.113.20"));
    EXPECT_TRUE(alice.table.find(bob.table.local().host.identity, false).has_value());
    EXPECT_TRUE(bob.table.find(alice.table.local().host.identity, false).has_value());
    // Neither can be reached directly: different translators, no confirmed path.
    EXPECT_FALSE(alice.table.chooseAddress(alice.recordOf(bob)));
}

TEST_F(RelayedRequestTest, SourceLookupTravelsThroughTheServerAndTheAnswerComesBack)
{
    FileKey key{};
    key[0] = 0x42;
    bob.services.paths[key] = "\\movies\\clip.avi";

    alice.endpoint->sendSourceLookup(key, 77, alice.recordOf(bob));
    network.run();

    ASSERT_EQ(alice.listener.sourceReplies.size(), 1u);
    const Bytes& reply = alice.listener.sourceReplies[0];
    const auto header = parseRequestHeader(reply);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->parameter, 77u);
    EXPECT_EQ(header->record.identity, bob.table.local().host.identity); // the replier's own record
    const std::string path(reply.begin() + 104, reply.end() - 1);
    EXPECT_EQ(path, "\\movies\\clip.avi");
}

TEST_F(RelayedRequestTest, WithoutAServerNothingIsRelayed)
{
    SimulatedCopy carol{network, clock, "172.16.0.9", 3, "carol"};
    carol.table.merge(std::vector{bob.table.local().host}, 0);
    FileKey key{};
    carol.endpoint->sendSourceLookup(key, 1, carol.recordOf(bob));
    network.run();
    EXPECT_TRUE(carol.listener.sourceReplies.empty());
}

namespace {
// Alice and Bob behind Linux translators of their own, both keeping the inside port 1552.
struct LinuxTranslatorsTest : ::testing::Test {
    explicit LinuxTranslatorsTest(RendezvousSettings serverSettings)
        : server{serverSocket, clock, serverSettings, [](const std::string&) {}}
    {
        network.addLinuxTranslator(ip("10.0.0.2"), ip("203.0.113.10"), clock);
        network.addLinuxTranslator(ip("192.168.1.5"), ip("203.0.113.20"), clock);
        serverSocket.bind(kServer.port);
        bob.services.paths[key] = "\\clip.avi";
        alice.services.paths[key] = "\\song.mp3";
        for (SimulatedCopy* copy : {&alice, &bob}) {
            copy->endpoint->probeServer(0);
            network.run();
            copy->endpoint->announce(1);
            network.run();
        }
    }
    // Runs the copies for `seconds` on their one-second ticks; `ask` copies repeat their lookup
    // every 5 s, as a user's browse does, until answered. Returns the seconds until all were.
    int runAsking(std::vector<std::pair<SimulatedCopy*, SimulatedCopy*>> ask, int seconds)
    {
        for (int s = 0; s < seconds; ++s) {
            bool all = true;
            for (auto [from, to] : ask) {
                all = all && !from->listener.sourceReplies.empty();
                if (from->listener.sourceReplies.empty() && s % 5 == 0)
                    from->endpoint->sendSourceLookup(key, 1, from->recordOf(*to));
            }
            if (all)
                return s;
            network.run();
            clock.advanceSeconds(1);
            for (SimulatedCopy* copy : {&alice, &bob}) {
                if (s % 20 == 0)
                    copy->endpoint->announce(0);
                copy->endpoint->punchTick();
            }
            network.run();
        }
        return seconds;
    }
    FileKey key{0x42};
    ManualClock clock;
    SimulatedNetwork network;
    SimulatedSocket serverSocket{network, kServer.address};
    RendezvousServer server;
    SimulatedCopy alice{network, clock, "10.0.0.2", 1, "alice"};
    SimulatedCopy bob{network, clock, "192.168.1.5", 2, "bob"};
};

// A server that relays nothing, so that answers can only come once a punched path is open.
struct PunchThroughLinuxTranslatorsTest : LinuxTranslatorsTest {
    PunchThroughLinuxTranslatorsTest() : LinuxTranslatorsTest(withoutRelay()) {}
    static RendezvousSettings withoutRelay()
    {
        RendezvousSettings settings;
        settings.relay.totalBytes = {0, 0};
        return settings;
    }
};

struct RelayThroughLinuxTranslatorsTest : LinuxTranslatorsTest {
    RelayThroughLinuxTranslatorsTest() : LinuxTranslatorsTest({}) {}
};
} // namespace

TEST_F(RelayThroughLinuxTranslatorsTest, TheRelayAnswersWhileThePunchStillWaits)
{
    const int took = runAsking({{&alice, &bob}}, 60);
    RecordProperty("seconds", took);
    EXPECT_GE(took, 3);
    EXPECT_LE(took, 10);
    ASSERT_EQ(alice.listener.sourceReplies.size(), 1u);
}

TEST_F(PunchThroughLinuxTranslatorsTest, AFirstProbeThatPoisonsThePeersTranslatorIsRepairedAfterTheQuietTime)
{
    const int took = runAsking({{&alice, &bob}}, 120);
    // The translators forget the poisoned entries after 30 s; the opener waits 34.
    RecordProperty("seconds", took);
    EXPECT_GE(took, 30);
    EXPECT_LE(took, 45);
    ASSERT_EQ(alice.listener.sourceReplies.size(), 1u);
    // Both have the path now: the next request and its answer go straight.
    const int relayedBefore = network.dropped();
    bob.endpoint->sendSourceLookup(key, 2, bob.recordOf(alice));
    network.run();
    EXPECT_EQ(bob.listener.sourceReplies.size(), 1u);
    EXPECT_EQ(network.dropped(), relayedBefore);
}

TEST_F(PunchThroughLinuxTranslatorsTest, BothStartingAtOnceStillEndWithAPathAfterTheRolesSwap)
{
    // Bob's first probe reaches Alice's translator before Alice's leaves hers, so Bob's entry is
    // the good one; but both asked at once, and Alice (the lower identity) keeps. Her round opens
    // nothing; in the next, Bob keeps and she opens.
    bob.endpoint->sendSourceLookup(key, 1, bob.recordOf(alice));
    network.run(1);
    const int took = runAsking({{&alice, &bob}, {&bob, &alice}}, 240);
    RecordProperty("seconds", took);
    EXPECT_GT(took, 60);
    EXPECT_LT(took, 150);
    EXPECT_FALSE(alice.listener.sourceReplies.empty());
    EXPECT_FALSE(bob.listener.sourceReplies.empty());
}
