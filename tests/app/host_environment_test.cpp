#include <gtest/gtest.h>

#include "app/host_environment.h"
#include "app/host_identity.h"
#include "fake_platforms.h"

using namespace vandry;
using vandry::testing::FakeHost;
using vandry::testing::FakeNetwork;
using vandry::testing::ip;

namespace {

// A wired adapter carrying the default route and a wireless one with a wider route than the rest.
FakeNetwork twoAdapters()
{
    FakeNetwork net;
    net.adapterList = std::vector<Adapter>{
        {2, "eth0", ip("192.168.1.10"), ip("192.168.1.1")},
        {3, "wlan0", ip("10.0.0.7"), ip("10.0.0.1")},
    };
    net.routes = {
        {0, 0, ip("192.168.1.1"), 2, 100},
        {0, 0, ip("10.0.0.1"), 3, 1000}, // too costly to be the default, still the widest of wlan0
        {ip("192.168.1.0"), ip("255.255.255.0"), 0, 2, 100},
        {ip("10.0.0.0"), ip("255.0.0.0"), 0, 3, 600},
    };
    net.statistics = IpStatistics{3, 4};
    return net;
}

class LocalRecordTest : public ::testing::Test {
protected:
    void build(std::string_view nickname = "alice") { buildLocalRecord(slot, settings, net, host, nickname); }

    NeighbourRecord slot;
    AppSettings settings;
    FakeNetwork net = twoAdapters();
    FakeHost host;
};

} // namespace

TEST_F(LocalRecordTest, FillsAddressesInterfaceRoutesAndIdentity)
{
    slot.host.portUdp = 1552;
    slot.host.portTcp = 1553;
    slot.host.mapAddr = ip("1.2.3.4");
    slot.host.agtPort = 99;
    slot.directAddr = ip("5.6.7.8");
    build();

    EXPECT_EQ(slot.host.lanPrimary, ip("192.168.1.10"));
    EXPECT_EQ(slot.host.lanSecondary, ip("10.0.0.7"));
    EXPECT_EQ(settings.interfaceRoutes[0],
              (InterfaceRoute{ip("192.168.1.10"), ip("192.168.1.1"), ip("192.168.1.1"), 2}));
    EXPECT_EQ(settings.interfaceRoutes[1], (InterfaceRoute{ip("10.0.0.7"), ip("10.0.0.1"), ip("10.0.0.1"), 3}));
    EXPECT_EQ(slot.host.portUdp, 1552);
    EXPECT_EQ(slot.host.portTcp, 1553);
    EXPECT_EQ(slot.host.mapAddr, 0u);
    EXPECT_EQ(slot.host.agtPort, 0);
    EXPECT_EQ(slot.directAddr, ip("5.6.7.8")); // beyond the host record: not ours to clear
    EXPECT_EQ(slot.lastSeen, kLocalRecordLastSeen);
    EXPECT_EQ(slot.host.identity, settings.identityCache);
    EXPECT_EQ(slot.host.identity, makeHostIdentity({0, 9, 0, 0}, host.os, host.machine));
    EXPECT_EQ(slot.host.nickname(), "alice");
}

TEST_F(LocalRecordTest, WithoutDefaultRouteTheWidestAdapterIsStillSecondary)
{
    net.routes = {
        {ip("192.168.1.0"), ip("255.255.255.0"), ip("192.168.1.2"), 2, 100},
        {ip("10.0.0.0"), ip("255.0.0.0"), ip("10.0.0.2"), 3, 600},
    };
    build();
    EXPECT_EQ(slot.host.lanPrimary, 0u);
    EXPECT_EQ(slot.host.lanSecondary, ip("10.0.0.7"));
    EXPECT_EQ(settings.interfaceRoutes[0], InterfaceRoute{});
    EXPECT_EQ(settings.interfaceRoutes[1], (InterfaceRoute{ip("10.0.0.7"), ip("10.0.0.1"), ip("10.0.0.2"), 3}));
}

TEST_F(LocalRecordTest, LinkLocalAndUnaddressedAdaptersAreNeverChosen)
{
    net.adapterList->insert(net.adapterList->begin(), {{4, "usb0", ip("169.254.3.4"), 0}, {5, "eth1", 0, 0}});
    net.routes.push_back({0, 0, ip("169.254.0.1"), 4, 2000});
    net.routes.push_back({0, 0, ip("172.16.0.1"), 5, 2000});
    build();
    EXPECT_EQ(slot.host.lanPrimary, ip("192.168.1.10"));
    EXPECT_EQ(slot.host.lanSecondary, ip("10.0.0.7"));
    EXPECT_EQ(settings.interfaceRoutes[1].interfaceIndex, 3u);
}

TEST_F(LocalRecordTest, AnAdapterWithoutAnyRouteIsNoLongerSecondary)
{
    build();
    net.routes.pop_back();
    net.routes.erase(net.routes.begin() + 1); // wlan0 keeps no route at all
    build();
    EXPECT_EQ(slot.host.lanSecondary, 0u);
    EXPECT_EQ(settings.interfaceRoutes[1], InterfaceRoute{});
}

TEST_F(LocalRecordTest, NoAdaptersLeavesABlankRecordWithItsPorts)
{
    build();
    slot.host.portUdp = 1552;
    net.adapterList = std::vector<Adapter>{};
    build();
    EXPECT_EQ(slot.host.portUdp, 1552);
    EXPECT_EQ(slot.host.lanPrimary, 0u);
    EXPECT_EQ(slot.host.nickname(), "");
    EXPECT_TRUE(isZero(slot.host.identity));
    EXPECT_EQ(settings.interfaceRoutes[0], InterfaceRoute{});
    EXPECT_EQ(slot.lastSeen, kLocalRecordLastSeen);
}

TEST_F(LocalRecordTest, UnreadableAdapterListStillNamesTheCopy)
{
    net.adapterList.reset();
    build();
    EXPECT_EQ(slot.host.lanPrimary, 0u);
    EXPECT_EQ(slot.host.lanSecondary, 0u);
    EXPECT_EQ(slot.host.nickname(), "alice");
    EXPECT_FALSE(isZero(slot.host.identity));
}

TEST_F(LocalRecordTest, NicknameIsCutTo15BytesOnACharacterBoundary)
{
    build("abcdefghijklmnopqrst");
    EXPECT_EQ(slot.host.nickname(), "abcdefghijklmno");
    build("a网名网名网名"); // 19 bytes; the fifth character would straddle byte 15
    EXPECT_EQ(slot.host.nickname(), "a网名网名");
    EXPECT_EQ(slot.host.hosting[15], 0);
}

TEST_F(LocalRecordTest, EmptyNicknameFallsBackToHostNameAndApplication)
{
    host.name = "pc";
    build("");
    EXPECT_EQ(slot.host.nickname(), "pc.vandry");
    host.name = "workstation";
    build("");
    EXPECT_EQ(slot.host.nickname(), "workstation.van");
}

TEST(HasConfiguredAdapter, NeedsAnAddressOnSomeAdapter)
{
    FakeNetwork net;
    EXPECT_FALSE(hasConfiguredAdapter(net));
    net.adapterList->push_back({2, "eth0", 0, 0});
    EXPECT_FALSE(hasConfiguredAdapter(net));
    net.adapterList->push_back({3, "eth1", ip("10.0.0.7"), 0});
    EXPECT_TRUE(hasConfiguredAdapter(net));
    net.adapterList.reset();
    EXPECT_FALSE(hasConfiguredAdapter(net));
}

namespace {
// A copy whose record was built and whose snapshot was taken, as after start-up.
class NetworkChangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        NeighbourRecord slot;
        buildLocalRecord(slot, settings, net, host, "");
        EXPECT_FALSE(networkChanged(settings, net, true));
        EXPECT_EQ(settings.statistics, (IpStatistics{3, 4}));
    }
    AppSettings settings;
    FakeNetwork net = twoAdapters();
    FakeHost host;
};
} // namespace

TEST_F(NetworkChangeTest, UnchangedStatisticsOrUnreadableStatisticsAreNoChange)
{
    EXPECT_FALSE(networkChanged(settings, net, false));
    net.statistics.reset();
    EXPECT_FALSE(networkChanged(settings, net, false));
}

TEST_F(NetworkChangeTest, SnapshotOnlyRecordsWithoutReporting)
{
    net.statistics = IpStatistics{4, 5};
    EXPECT_FALSE(networkChanged(settings, net, true));
    EXPECT_EQ(settings.statistics, (IpStatistics{4, 5}));
    EXPECT_FALSE(networkChanged(settings, net, false));
}

TEST_F(NetworkChangeTest, NewInterfaceIsAChangeReportedOnce)
{
    net.statistics = IpStatistics{4, 4};
    EXPECT_TRUE(networkChanged(settings, net, false));
    EXPECT_EQ(settings.statistics, (IpStatistics{4, 4}));
    EXPECT_FALSE(networkChanged(settings, net, false));
}

TEST_F(NetworkChangeTest, SameInterfacesButNewGatewayOfEitherEntry)
{
    net.statistics = IpStatistics{3, 5};
    net.routes.push_back({ip("172.16.0.0"), ip("255.255.0.0"), 0, 2, 0});
    EXPECT_FALSE(networkChanged(settings, net, false)); // more routes, same gateways
    EXPECT_EQ(settings.statistics, (IpStatistics{3, 5}));

    net.statistics = IpStatistics{3, 6};
    net.routes[0].nextHop = ip("192.168.1.254");
    EXPECT_TRUE(networkChanged(settings, net, false));

    net.routes[0].nextHop = ip("192.168.1.1");
    net.statistics = IpStatistics{3, 7};
    net.routes[1].nextHop = ip("10.0.0.254");
    EXPECT_TRUE(networkChanged(settings, net, false));
}

TEST_F(NetworkChangeTest, WithoutAnAddressedAdapterTheChangeWaits)
{
    net.statistics = IpStatistics{2, 1};
    net.adapterList = std::vector<Adapter>{{2, "eth0", 0, 0}};
    EXPECT_FALSE(networkChanged(settings, net, false));
    EXPECT_EQ(settings.statistics, (IpStatistics{3, 4}));

    net.adapterList = std::vector<Adapter>{{2, "eth0", ip("192.168.5.5"), 0}};
    EXPECT_TRUE(networkChanged(settings, net, false));
    EXPECT_EQ(settings.statistics, (IpStatistics{2, 1}));
}
