#include "app/route_selection.h"

#include <optional>

namespace vandry {

namespace {
constexpr Ipv4 kLoopback = 0x7F000001;      // 127.0.0.1
constexpr Ipv4 kMulticastBase = 0xE0000000; // 224.0.0.0
constexpr Ipv4 kLinkLocalNet = 0xA9FE0000;  // 169.254.0.0
constexpr Ipv4 kLinkLocalMask = 0xFFFF0000;
} // namespace

Ipv4 primaryAddress(std::span<const RouteRow> routes, std::span<const Adapter> adapters)
{
    const RouteRow* best = nullptr;
    for (const auto& row : routes)
        if (row.destination == 0 && row.metric < kMaxDefaultRouteMetric && (!best || row.metric < best->metric))
            best = &row;
    if (!best)
        return 0;
    for (const auto& adapter : adapters)
        if (adapter.index == best->interfaceIndex)
            return adapter.firstAddress;
    return 0;
}

InterfaceGateway gatewayOfInterface(std::span<const RouteRow> routes, Ipv4 localAddress, std::uint32_t interfaceIndex)
{
    std::optional<InterfaceGateway> best;
    for (const auto& row : routes) {
        if (row.interfaceIndex != interfaceIndex || row.nextHop == localAddress || row.nextHop == kLoopback ||
            row.nextHop == kMulticastBase)
            continue;
        if (!best || row.mask < best->mask)
            best = InterfaceGateway{row.nextHop, row.mask};
    }
    return best.value_or(InterfaceGateway{});
}

bool isLinkLocal(Ipv4 address)
{
    return (address & kLinkLocalMask) == kLinkLocalNet;
}

} // namespace vandry
