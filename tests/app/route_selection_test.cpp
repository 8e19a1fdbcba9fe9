#include <gtest/gtest.h>

#include "app/route_selection.h"
#include "fake_platforms.h"

using namespace vandry;
using vandry::testing::ip;

namespace {
const std::vector<Adapter> kAdapters{
    {2, "eth0", ip("192.168.1.10"), ip("192.168.1.1")},
    {3, "wlan0", ip("10.0.0.7"), ip("10.0.0.1")},
};
RouteRow defaultRoute(Ipv4 nextHop, std::uint32_t index, std::uint32_t metric)
{
    return {0, 0, nextHop, index, metric};
}
} // namespace

TEST(PrimaryAddress, SmallestMetricOfTheDefaultRoutesWins)
{
    EXPECT_EQ(primaryAddress(std::vector{defaultRoute(ip("192.168.1.1"), 2, 20), defaultRoute(ip("10.0.0.1"), 3, 10)},
                             kAdapters),
              ip("10.0.0.7"));
    EXPECT_EQ(primaryAddress(std::vector{defaultRoute(ip("10.0.0.1"), 3, 10), defaultRoute(ip("192.168.1.1"), 2, 20)},
                             kAdapters),
              ip("10.0.0.7"));
}

TEST(PrimaryAddress, FirstRowWinsOnEqualMetrics)
{
    EXPECT_EQ(primaryAddress(std::vector{defaultRoute(ip("192.168.1.1"), 2, 10), defaultRoute(ip("10.0.0.1"), 3, 10)},
                             kAdapters),
              ip("192.168.1.10"));
    EXPECT_EQ(primaryAddress(std::vector{defaultRoute(ip("10.0.0.1"), 3, 10), defaultRoute(ip("192.168.1.1"), 2, 10)},
                             kAdapters),
              ip("10.0.0.7"));
}

TEST(PrimaryAddress, ZeroWithoutAUsableDefaultRouteOrAdapter)
{
    const RouteRow subnet{ip("192.168.1.0"), ip("255.255.255.0"), 0, 2, 1};
    EXPECT_EQ(primaryAddress(std::vector{subnet}, kAdapters), 0u);
    EXPECT_EQ(primaryAddress(std::vector{defaultRoute(ip("192.168.1.1"), 2, 1000)}, kAdapters), 0u);
    EXPECT_EQ(
        primaryAddress(std::vector{defaultRoute(ip("192.168.1.1"), 2, 1000), defaultRoute(ip("10.0.0.1"), 3, 999)},
                       kAdapters),
        ip("10.0.0.7"));
    EXPECT_EQ(primaryAddress(std::vector{defaultRoute(ip("172.16.0.1"), 9, 1)}, kAdapters), 0u);
    EXPECT_EQ(primaryAddress({}, kAdapters), 0u);
}

TEST(GatewayOfInterface, WidestRouteOfTheInterfaceWithARealNextHop)
{
    const Ipv4 local = ip("192.168.1.10");
    const std::vector<RouteRow> rows{
        {ip("192.168.1.0"), ip("255.255.255.0"), ip("192.168.1.2"), 2, 0},
        {0, 0, local, 2, 0},           // through the adapter's own address
        {0, 0, ip("127.0.0.1"), 2, 0}, // loopback
        {0, 0, ip("224.0.0.0"), 2, 0}, // multicast base
        {0, 0, ip("10.0.0.1"), 3, 0},  // another interface
        {ip("192.168.0.0"), ip("255.255.0.0"), ip("192.168.1.3"), 2, 0},
        {ip("172.16.0.0"), ip("255.255.0.0"), ip("192.168.1.4"), 2, 0}, // tie: the first stays
    };
    EXPECT_EQ(gatewayOfInterface(rows, local, 2), (InterfaceGateway{ip("192.168.1.3"), ip("255.255.0.0")}));
}

TEST(GatewayOfInterface, NoCandidateGivesZeroAndAFullMask)
{
    const Ipv4 local = ip("192.168.1.10");
    const std::vector<RouteRow> rows{{0, 0, local, 2, 0}, {0, 0, ip("10.0.0.1"), 3, 0}};
    EXPECT_EQ(gatewayOfInterface(rows, local, 2), (InterfaceGateway{0, 0xFFFFFFFF}));
    EXPECT_EQ(gatewayOfInterface({}, local, 2), (InterfaceGateway{0, 0xFFFFFFFF}));
}
