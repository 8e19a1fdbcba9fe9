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
