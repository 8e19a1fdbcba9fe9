// Where a link opens TCP: the router's forwarded port of a neighbour behind another translator,
// the usual address choice otherwise.

#include <gtest/gtest.h>

#include "link/tcp_address.h"

namespace vandry::testing {
namespace {

constexpr Ipv4 kOurRouter = 0xC6120B0B;   // 198.18.11.11
constexpr Ipv4 kTheirRouter = 0xC6120C0C; // 198.18.12.12
constexpr Ipv4 kTheirLan = 0xC6130C02;    // 198.19.12.2

struct Table {
    Table()
    {
        HostRecord local;
        local.mapAddr = kOurRouter;
        local.lanPrimary = 0xC6130B02;
        table = std::make_unique<NeighbourTable>(clock, local);
        neighbour.host.mapAddr = kTheirRouter;
        neighbour.host.mapPort = 1552;
        neighbour.host.lanPrimary = kTheirLan;
        neighbour.host.portUdp = 1552;
        neighbour.host.portTcp = 1553;
        neighbour.host.agtAddr = kTheirRouter;
        neighbour.host.agtPort = 41000;
        neighbour.lastSeen = static_cast<std::uint32_t>(clock.nowSeconds());
    }
    ManualClock clock;
    std::unique_ptr<NeighbourTable> table;
    NeighbourRecord neighbour;
};

TEST(TcpAddress, ANeighbourBehindAnotherRouterIsReachedAtItsForwardedPort)
{
    Table t;
    EXPECT_EQ(chooseTcpAddress(*t.table, t.neighbour), (Endpoint{kTheirRouter, 41000}));
    // A punch probe's observed address does not beat the forwarded port.
    t.neighbour.observedAddr = kTheirRouter;
    t.neighbour.observedPort = 1552;
    EXPECT_EQ(chooseTcpAddress(*t.table, t.neighbour), (Endpoint{kTheirRouter, 41000}));
    // Without a forwarded port, the observed address with the listener's port, as before.
    t.neighbour.host.agtPort = 0;
    EXPECT_EQ(chooseTcpAddress(*t.table, t.neighbour), (Endpoint{kTheirRouter, 1553}));
    t.neighbour.observedAddr = 0;
    EXPECT_EQ(chooseTcpAddress(*t.table, t.neighbour), std::nullopt);
}

TEST(TcpAddress, AForwardedPortOnAnotherAddressThanTheServerSawIsIgnored)
{
    Table t;
    t.neighbour.host.agtAddr = 0x0A000001; // a host of someone else's choosing
    EXPECT_EQ(chooseTcpAddress(*t.table, t.neighbour), std::nullopt);
}

TEST(TcpAddress, PathsInsideALanOrToAPublicAddressComeFirst)
{
    Table t;
    t.neighbour.host.mapAddr = kOurRouter; // behind our own router: its LAN address
    EXPECT_EQ(chooseTcpAddress(*t.table, t.neighbour), (Endpoint{kTheirLan, 1553}));

    Table direct;
    direct.neighbour.directAddr = kTheirLan;
    EXPECT_EQ(chooseTcpAddress(*direct.table, direct.neighbour), (Endpoint{kTheirLan, 1553}));

    Table open;
    open.neighbour.host.lanPrimary = kTheirRouter;
    EXPECT_EQ(chooseTcpAddress(*open.table, open.neighbour), (Endpoint{kTheirRouter, 1553}));
}

} // namespace
} // namespace vandry::testing
