#include "discovery_fakes.h"

#include <future>

#include "discovery/server_probe.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
using std::chrono::milliseconds;

struct Probe {
    std::size_t server;
    std::uint32_t atMs;
    bool operator==(const Probe&) const = default;
};

// Runs the probe on the test's thread; each wait moves the manual clock and then lets the test
// act as the rest of the copy would meanwhile.
class ServerProbeTest : public ::testing::Test {
protected:
    ServerProbe probe{servers,
                      [this](std::size_t i) {
                          probes.push_back({i, clock.tickMs()});
                      },
                      [this] { ++announces; },
                      [this](milliseconds wait) {
                          clock.advanceMs(static_cast<std::uint32_t>(wait.count()));
                          if (duringWait)
                              duringWait();
                      }};

    void useServers(std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i)
            servers.setEntry(i, "10.0.0." + std::to_string(i + 1), 3000);
    }

    ManualClock clock;
    ServerList servers;
    std::vector<Probe> probes;
    int announces = 0;
    std::function<void()> duringWait;
};
} // namespace

TEST_F(ServerProbeTest, ProbesEachServerThreeTimesUntilTheFirstEmptyAddress)
{
    useServers(2);
    servers.setEntry(3, "10.0.0.4", 3000); // behind the gap: never reached
    std::vector<std::uint8_t> states;
    duringWait = [&] { states.push_back(servers.probeState.load()); };
    probe.run();
    EXPECT_EQ(probes, (std::vector<Probe>{{0, 0}, {0, 600}, {0, 1200}, {1, 1800}, {1, 2400}, {1, 3000}}));
    EXPECT_EQ(states, std::vector<std::uint8_t>(6, ServerProbe::kProbing));
    EXPECT_EQ(servers.probeState.load(), ServerProbe::kIdle);
    EXPECT_EQ(announces, 0);
}

TEST_F(ServerProbeTest, StopsAsSoonAsABestServerIsKnownAndAnnounces)
{
    useServers(3);
    duringWait = [&] {
        if (probes.size() == 5)
            servers.offerBest(1);
    };
    probe.run();
    ASSERT_EQ(probes.size(), 5u);
    EXPECT_EQ(probes.back(), (Probe{1, 2400}));
    EXPECT_EQ(servers.probeState.load(), ServerProbe::kIdle);
    EXPECT_EQ(announces, 1);
}

TEST_F(ServerProbeTest, MovesOnWhenAServerListArrives)
{
    useServers(2);
    duringWait = [&] {
        if (probes.size() == 1)
            ++servers.probeState; // type 146 while probing: 2 -> 3
    };
    probe.run();
    EXPECT_EQ(probes, (std::vector<Probe>{{0, 0}, {1, 600}, {1, 1200}, {1, 1800}}));
}

TEST_F(ServerProbeTest, CancelledProbeStopsAfterItsWaitWithoutAnnouncing)
{
    useServers(2);
    duringWait = [&] {
        servers.offerBest(0);
        probe.cancel();
    };
    probe.run();
    EXPECT_EQ(probes.size(), 1u);
    EXPECT_EQ(announces, 0);
}

// The whole round through the endpoint: its probes go out, the first server's answer arrives
// while the probe waits, and the probe asks for an announcement.
TEST_F(EndpointTest, ServerProbeFindsTheAnsweringServer)
{
    useServers({"10.0.0.1", "10.0.0.2"});
    ASSERT_TRUE(endpoint->open());
    ServerProbe probe(
        settings.servers, [&](std::size_t i) { endpoint->probeServer(i); }, [&] { listener.announceRequested(); },
        [&](milliseconds) {
            if (socket->takeSent().back().destination.address == 0x0A000002)
                deliver(header(0, 2, 4444, 0x5D000009), {}, {0x0A000002, 3001});
        });
    probe.run();
    EXPECT_EQ(settings.servers.best(), 1);
    EXPECT_EQ(table.local().host.mapAddr, 0x5D000009u);
    EXPECT_EQ(listener.announces.load(), 1);
}

TEST_F(EndpointTest, OneProbeThreadAtATime)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> waiting;
    bool signalled = false;
    auto owned = std::make_unique<FakeDatagramSocket>();
    auto* probeSocket = owned.get();
    DiscoveryEndpoint probing(std::move(owned), DiscoveryContext{settings, table, log, listener, services, sink},
                              [&](milliseconds) {
                                  if (!std::exchange(signalled, true))
                                      waiting.set_value();
                                  released.wait();
                              });
    useServers({"10.0.0.1"});
    ASSERT_TRUE(probing.startServerProbe());
    waiting.get_future().wait();
    EXPECT_TRUE(probing.serverProbeRunning());
    EXPECT_FALSE(probing.startServerProbe());
    release.set_value();
    probing.stopServerProbe();
    EXPECT_FALSE(probing.serverProbeRunning());
    EXPECT_FALSE(probing.startServerProbe());
    EXPECT_FALSE(probeSocket->takeSent().empty());
    EXPECT_EQ(listener.announces.load(), 0);
}

// Without an injected wait the probe really waits 600 ms; stopping cuts that short.
TEST_F(EndpointTest, DestroyingTheEndpointStopsARunningProbe)
{
    useServers({"10.0.0.1", "10.0.0.2"});
    auto owned = std::make_unique<FakeDatagramSocket>();
    auto probing = std::make_unique<DiscoveryEndpoint>(
        std::move(owned), DiscoveryContext{settings, table, log, listener, services, sink});
    ASSERT_TRUE(probing->startServerProbe());
    const auto before = std::chrono::steady_clock::now();
    probing.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(settings.servers.probeState.load(), ServerProbe::kIdle);
    EXPECT_EQ(listener.announces.load(), 0);
}
