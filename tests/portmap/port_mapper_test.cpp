// The port mapper against fake routers on a manual clock: which method and port it gets, when it
// renews, how it copes with a router that goes away and comes back, and what it removes at stop.

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

#include "portmap/mapping_methods.h"
#include "portmap/port_mapper.h"

namespace vandry::testing {
namespace {

constexpr Ipv4 kRouter = 0xC6120B0B; // 198.18.11.11
constexpr Ipv4 kLan = 0xC6130B02;    // 198.19.11.2

class FakeRouter final : public PortGateway {
public:
    explicit FakeRouter(MappingMethod method) : method_(method) {}
    MappingMethod method() const override { return method_; }
    std::optional<GatewayFound> find(std::string& error) override
    {
        ++finds;
        if (!present) {
            error = "silence";
            return std::nullopt;
        }
        return GatewayFound{kRouter};
    }
    GatewayAddResult add(MappedPort kind, std::uint16_t internal, std::uint16_t external, std::uint32_t lease) override
    {
        asked.push_back(external);
        if (!present || refuses)
            return {GatewayAddResult::Status::Failed, 0, 0, "refused"};
        if (taken.count(external))
            return {GatewayAddResult::Status::PortTaken, 0, 0, "conflict"};
        const std::uint16_t granted = grants ? grants : external;
        held[{kind, granted}] = internal;
        if (afterAdd)
            afterAdd();
        return {GatewayAddResult::Status::Mapped, granted, grantedLease ? grantedLease : lease, {}};
    }
    bool remove(MappedPort kind, std::uint16_t, std::uint16_t external) override
    {
        return held.erase({kind, external}) > 0;
    }

    bool present = true;
    bool refuses = false;
    std::uint16_t grants = 0;       // NAT-PMP style: the router picks the port
    std::uint32_t grantedLease = 0; // 0: the lease asked for
    std::set<std::uint16_t> taken;
    std::map<std::pair<MappedPort, std::uint16_t>, std::uint16_t> held;
    std::vector<std::uint16_t> asked;
    int finds = 0;
    std::function<void()> afterAdd;

private:
    MappingMethod method_;
};

class PostingLoop final : public EventLoop {
public:
    std::unique_ptr<Timer> createTimer() override { return nullptr; }
    void post(std::function<void()> work) override { work(); }
};

struct MapperRig {
    explicit MapperRig(std::vector<PortGateway*> order, bool deferWork = false)
        : defer(deferWork),
          mapper(PortMapperContext{clock, loop,
                                   [this](std::function<void()> job) {
                                       if (defer)
                                           queued.push_back(std::move(job));
                                       else
                                           job();
                                   },
                                   std::move(order), [this](const std::string& line) { log.push_back(line); },
                                   [this] { return nextRandom++; }})
    {
        local.portTcp = 1552;
        local.portUdp = 1552;
        local.lanPrimary = kLan;
        local.mapAddr = kRouter;
        local.mapPort = 1552;
    }
    void runQueued()
    {
        while (!queued.empty()) {
            auto job = std::move(queued.front());
            queued.pop_front();
            job();
        }
    }
    void passSeconds(int seconds)
    {
        for (int i = 0; i < seconds; ++i) {
            clock.advanceSeconds(1);
            mapper.tick(local);
        }
    }
    bool logged(std::string_view text) const
    {
        for (const auto& line : log)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    ManualClock clock;
    PostingLoop loop;
    bool defer;
    std::deque<std::function<void()>> queued;
    std::vector<std::string> log;
    std::uint32_t nextRandom = 7000 - 1024; // other ports start at 7000
    HostRecord local;
    PortMapper mapper;
};

TEST(PortMapper, MapsBothPortsOnTheirOwnNumbersAndPublishesTheTcpPort)
{
    FakeRouter upnp(MappingMethod::Upnp);
    MapperRig rig({&upnp});
    rig.mapper.start(rig.local);
    ASSERT_TRUE(rig.mapper.active());
    EXPECT_EQ(rig.mapper.active()->method, MappingMethod::Upnp);
    EXPECT_EQ(upnp.held.size(), 2u);
    EXPECT_EQ((upnp.held[{MappedPort::Tcp, 1552}]), 1552);
    EXPECT_EQ((upnp.held[{MappedPort::Udp, 1552}]), 1552);
    EXPECT_EQ(rig.mapper.publishedTcp(rig.local), (Endpoint{kRouter, 1552}));
    EXPECT_TRUE(rig.logged("UPnP maps 198.18.11.11:1552/TCP to port 1552 and 198.18.11.11:1552/UDP"));

    HostRecord record = rig.local;
    EXPECT_TRUE(applyPublishedTcp(record, rig.mapper.publishedTcp(rig.local)));
    EXPECT_EQ(record.agtAddr, kRouter);
    EXPECT_EQ(record.agtPort, 1552);
    EXPECT_FALSE(applyPublishedTcp(record, rig.mapper.publishedTcp(rig.local)));
    EXPECT_TRUE(applyPublishedTcp(record, std::nullopt));
    EXPECT_EQ(record.agtAddr, 0u);
}

TEST(PortMapper, ATakenPortGivesWayToOthersAndTheUdpPortFollowsTheServersView)
{
    FakeRouter upnp(MappingMethod::Upnp);
    upnp.taken = {1552, 7000};
    MapperRig rig({&upnp});
    rig.local.mapPort = 40000; // the home translator moved the endpoint's port
    rig.mapper.start(rig.local);
    ASSERT_TRUE(rig.mapper.active());
    EXPECT_EQ(rig.mapper.active()->tcp.externalPort, 7001);
    ASSERT_TRUE(rig.mapper.active()->udp);
    EXPECT_EQ(rig.mapper.active()->udp->externalPort, 40000);
    EXPECT_TRUE(rig.logged("external port 1552 for TCP port 1552 is taken"));

    // Renewals keep the port neighbours know, not the taken one asked for at first.
    upnp.asked.clear();
    rig.passSeconds(PortMapper::kLeaseSeconds / 2);
    EXPECT_EQ(upnp.asked.front(), 7001);

    // The server now sees the endpoint elsewhere: the UDP mapping moves there, the old one goes.
    rig.local.mapPort = 40010;
    rig.passSeconds(1);
    EXPECT_EQ(rig.mapper.active()->udp->externalPort, 40010);
    EXPECT_FALSE((upnp.held.count({MappedPort::Udp, 40000})));
    EXPECT_TRUE((upnp.held.count({MappedPort::Udp, 40010})));
}

TEST(PortMapper, EveryPortTakenOrARefusalMapsNothing)
{
    FakeRouter upnp(MappingMethod::Upnp);
    for (std::uint16_t port = 7000; port < 7000 + PortMapper::kOtherPorts; ++port)
        upnp.taken.insert(port);
    upnp.taken.insert(1552);
    MapperRig rig({&upnp});
    rig.mapper.start(rig.local);
    EXPECT_FALSE(rig.mapper.active());
    EXPECT_EQ(upnp.asked.size(), 1 + PortMapper::kOtherPorts);

    FakeRouter refusing(MappingMethod::Upnp);
    refusing.refuses = true;
    MapperRig second({&refusing});
    second.mapper.start(second.local);
    EXPECT_FALSE(second.mapper.active());
    EXPECT_EQ(refusing.asked.size(), 1u) << "a refusal is not a taken port: no other port is tried";
    EXPECT_TRUE(second.logged("the router refused TCP port 1552 (refused)"));
}

TEST(PortMapper, AMethodThatFailsFallsBackToTheNextAndRenewalsStayWithTheOneThatWorked)
{
    FakeRouter upnp(MappingMethod::Upnp);
    FakeRouter natpmp(MappingMethod::NatPmp);
    upnp.present = false;
    natpmp.grants = 51000;
    natpmp.grantedLease = 120;
    MapperRig rig({&upnp, &natpmp});
    rig.mapper.start(rig.local);
    ASSERT_TRUE(rig.mapper.active());
    EXPECT_EQ(rig.mapper.active()->method, MappingMethod::NatPmp);
    EXPECT_EQ(rig.mapper.publishedTcp(rig.local), (Endpoint{kRouter, 51000}));
    EXPECT_TRUE(rig.logged("UPnP: no router answered (silence)"));

    // Renewal at half the granted lease, NAT-PMP first although UPnP is back.
    upnp.present = true;
    const int findsBefore = natpmp.finds;
    rig.passSeconds(59);
    EXPECT_EQ(natpmp.finds, findsBefore);
    rig.passSeconds(1);
    EXPECT_EQ(natpmp.finds, findsBefore + 1);
    EXPECT_EQ(upnp.held.size(), 0u);
    EXPECT_EQ(rig.mapper.active()->method, MappingMethod::NatPmp);
}

TEST(PortMapper, ARouterThatGoesAwayIsAskedAgainWithGrowingPausesUntilItReturns)
{
    FakeRouter upnp(MappingMethod::Upnp);
    MapperRig rig({&upnp});
    rig.mapper.start(rig.local);
    ASSERT_TRUE(rig.mapper.active());

    upnp.present = false;
    rig.passSeconds(PortMapper::kLeaseSeconds / 2);
    EXPECT_FALSE(rig.mapper.active());
    EXPECT_EQ(rig.mapper.publishedTcp(rig.local), std::nullopt);
    EXPECT_TRUE(rig.logged("the router no longer maps the ports"));

    int finds = upnp.finds;
    rig.passSeconds(PortMapper::kFirstRetrySeconds);
    EXPECT_EQ(upnp.finds, finds + 1);
    rig.passSeconds(PortMapper::kFirstRetrySeconds * 2 - 1);
    EXPECT_EQ(upnp.finds, finds + 1) << "the second pause is twice the first";
    rig.passSeconds(1);
    EXPECT_EQ(upnp.finds, finds + 2);
    for (int i = 0; i < 6; ++i)
        rig.passSeconds(PortMapper::kLongestRetrySeconds);
    finds = upnp.finds;
    rig.passSeconds(PortMapper::kLongestRetrySeconds);
    EXPECT_EQ(upnp.finds, finds + 1) << "pauses stop growing at the longest";

    upnp.present = true;
    rig.passSeconds(PortMapper::kLongestRetrySeconds);
    ASSERT_TRUE(rig.mapper.active());
    EXPECT_EQ(rig.mapper.publishedTcp(rig.local), (Endpoint{kRouter, 1552}));
}

TEST(PortMapper, ANewLanAddressMapsAgainAtOnce)
{
    FakeRouter upnp(MappingMethod::Upnp);
    upnp.present = false;
    MapperRig rig({&upnp});
    rig.mapper.start(rig.local);
    upnp.present = true;
    rig.passSeconds(1);
    EXPECT_FALSE(rig.mapper.active()) << "the retry pause is not over";
    rig.local.lanPrimary = kLan + 1;
    rig.passSeconds(1);
    EXPECT_TRUE(rig.mapper.active());
}

TEST(PortMapper, ARouterBehindAnotherTranslatorIsNotAnnounced)
{
    FakeRouter upnp(MappingMethod::Upnp);
    MapperRig rig({&upnp});
    rig.local.mapAddr = 0xCB007105; // the server sees another address than the router's
    rig.mapper.start(rig.local);
    ASSERT_TRUE(rig.mapper.active());
    EXPECT_EQ(rig.mapper.publishedTcp(rig.local), std::nullopt);
    rig.passSeconds(2);
    EXPECT_TRUE(rig.logged("another translator sits in between"));
}

TEST(PortMapper, StopRemovesEveryMappingEvenOneARoundStillInFlightMade)
{
    FakeRouter upnp(MappingMethod::Upnp);
    MapperRig rig({&upnp});
    rig.mapper.start(rig.local);
    rig.mapper.stop();
    EXPECT_TRUE(upnp.held.empty());
    EXPECT_TRUE(rig.logged("removed UPnP mapping of 198.18.11.11:1552/TCP to port 1552"));
    EXPECT_FALSE(rig.mapper.active());
    const int finds = upnp.finds;
    rig.passSeconds(PortMapper::kLeaseSeconds);
    EXPECT_EQ(upnp.finds, finds) << "nothing is asked after stop";

    FakeRouter slow(MappingMethod::Upnp);
    MapperRig deferred({&slow}, true);
    deferred.mapper.start(deferred.local);
    deferred.mapper.stop(); // the round has not run yet on the worker: it asks nothing
    deferred.runQueued();
    EXPECT_TRUE(slow.held.empty());
    EXPECT_EQ(slow.finds, 0);
    EXPECT_FALSE(deferred.mapper.active());

    // The stop comes while the round is at the router: the TCP port it mapped goes, UDP is not asked.
    FakeRouter busy(MappingMethod::Upnp);
    MapperRig midway({&busy}, true);
    busy.afterAdd = [&midway] { midway.mapper.stop(); };
    midway.mapper.start(midway.local);
    EXPECT_FALSE(midway.mapper.settled());
    midway.runQueued();
    EXPECT_TRUE(midway.mapper.settled());
    EXPECT_EQ(busy.asked.size(), 1u);
    EXPECT_TRUE(busy.held.empty());
    EXPECT_TRUE(midway.logged("removed UPnP mapping of 198.18.11.11:1552/TCP"));
}

TEST(PortMapper, ResultsArrivingAfterTheMapperIsGoneAreDropped)
{
    FakeRouter upnp(MappingMethod::Upnp);
    std::deque<std::function<void()>> queued;
    ManualClock clock;
    PostingLoop loop;
    HostRecord local;
    local.portTcp = local.portUdp = 1552;
    {
        PortMapper mapper(PortMapperContext{clock,
                                            loop,
                                            [&](std::function<void()> job) { queued.push_back(job); },
                                            {&upnp},
                                            [](const std::string&) {},
                                            [] { return 1u; }});
        mapper.start(local);
    }
    queued.front()(); // must not touch the destroyed mapper
    EXPECT_EQ(upnp.held.size(), 2u);
}

TEST(MappingMethods, NamesAndOrder)
{
    EXPECT_EQ(parseMappingMethods("auto"), (std::vector{MappingMethod::Upnp, MappingMethod::NatPmp}));
    EXPECT_EQ(parseMappingMethods("natpmp"), (std::vector{MappingMethod::NatPmp}));
    EXPECT_EQ(parseMappingMethods("off"), std::vector<MappingMethod>{});
    EXPECT_EQ(parseMappingMethods("UPnP"), std::nullopt);
    EXPECT_EQ(parseMappingMethods(""), std::nullopt);
}

} // namespace
} // namespace vandry::testing
