#include <gtest/gtest.h>

#include "app/proc_net_route.h"
#include "fake_platforms.h"

using namespace vandry;
using vandry::testing::ip;

namespace {
const InterfaceIndexMap kIndexes{{"lo", 1}, {"eth0", 2}, {"wlan0", 3}};
}

TEST(ProcNetRoute, ReadsRowsOfARealTable)
{
    const std::string text =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT           \n"
        "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0                                \n"
        "wlan0\t00000000\t0100000A\t0003\t0\t0\t600\t00000000\t0\t0\t0                               \n"
        "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0                                \n"
        "wlan0\t0000000A\t00000000\t0001\t0\t0\t600\t000000FF\t0\t0\t0";
    const auto rows = parseProcNetRoute(text, kIndexes);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (RouteRow{0, 0, ip("192.168.0.1"), 2, 100}));
    EXPECT_EQ(rows[1], (RouteRow{0, 0, ip("10.0.0.1"), 3, 600}));
    EXPECT_EQ(rows[2], (RouteRow{ip("192.168.0.0"), ip("255.255.255.0"), 0, 2, 100}));
    EXPECT_EQ(rows[3], (RouteRow{ip("10.0.0.0"), ip("255.0.0.0"), 0, 3, 600}));
}

TEST(ProcNetRoute, SkipsUnknownInterfacesAndMalformedLines)
{
    const std::string text = "Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT\n"
                             "*     00000000 00000000 0201 0 0 0 00000000 0 0 0\n" // unreachable route
                             "tun9  00000000 00000000 0001 0 0 0 00000000 0 0 0\n" // interface gone
                             "eth0  0000A8C0 00000000 0001 0 0 100\n"              // too few fields
                             "eth0  0000A8G0 00000000 0001 0 0 100 00FFFFFF 0 0 0\n"
                             "eth0  10000A8C0 00000000 0001 0 0 100 00FFFFFF 0 0 0\n"
                             "eth0  0000A8C0 00000000 0001 0 0 -1 00FFFFFF 0 0 0\n"
                             "eth0  0000A8C0 00000000 0001 0 0 99999999999 00FFFFFF 0 0 0\n"
                             "eth0  0x00A8C0 00000000 0001 0 0 100 00FFFFFF 0 0 0\n"
                             "\n\n \t \r\n"
                             "eth0  0000A8C0 00000000 0001 0 0 100 00FFFFFF 0 0 0\r\n"
                             "lo 7F 0 0001 0 0 0 FF";
    const auto rows = parseProcNetRoute(text, kIndexes);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (RouteRow{ip("192.168.0.0"), ip("255.255.255.0"), 0, 2, 100}));
    EXPECT_EQ(rows[1], (RouteRow{ip("127.0.0.0"), ip("255.0.0.0"), 0, 1, 0})); // short hex words are fine
}

TEST(ProcNetRoute, GarbageGivesNoRows)
{
    EXPECT_TRUE(parseProcNetRoute("", kIndexes).empty());
    EXPECT_TRUE(parseProcNetRoute(std::string("eth0\0 1 2 3 4 5 6 7", 19), kIndexes).empty());
    EXPECT_TRUE(parseProcNetRoute("\xFF\xFE garbage\n\n\n", kIndexes).empty());
}

TEST(DefaultGateway, IsTheFirstDefaultRouteOfTheAdapter)
{
    const std::vector<RouteRow> rows{
        {ip("10.0.0.0"), ip("255.0.0.0"), ip("10.0.0.254"), 2, 0}, // not a default route
        {0, 0, 0, 2, 50},                                          // default without a gateway
        {0, 0, ip("10.0.0.1"), 2, 100},
        {0, 0, ip("10.0.0.2"), 2, 10},
        {0, 0, ip("192.168.0.1"), 3, 100},
    };
    EXPECT_EQ(defaultGatewayOf(rows, 2), ip("10.0.0.1"));
    EXPECT_EQ(defaultGatewayOf(rows, 3), ip("192.168.0.1"));
    EXPECT_EQ(defaultGatewayOf(rows, 4), 0u);
}
