#pragma once
// Choosing the local addresses from the route table and the adapter list. Pure functions over
// what the platform reported, so every selection rule is tested on hand-made tables.

#include <cstdint>
#include <span>

#include "app/network_platform.h"

namespace vandry {

// Routes with a metric of 1000 or more are not taken as the default route.
inline constexpr std::uint32_t kMaxDefaultRouteMetric = 1000;

// The address of the adapter that carries the preferred default route: among rows to 0.0.0.0,
// the smallest metric below 1000, the first row on equal metrics. 0 when there is none.
Ipv4 primaryAddress(std::span<const RouteRow> routes, std::span<const Adapter> adapters);

struct InterfaceGateway {
    Ipv4 nextHop = 0;
    Ipv4 mask = 0xFFFFFFFF;
    bool operator==(const InterfaceGateway&) const = default;
};

// The widest route of interface `interfaceIndex` whose next hop is a real gateway (not the
// adapter's own address, loopback or the multicast base); the first row wins ties. With no
// such route: next hop 0, mask 255.255.255.255.
InterfaceGateway gatewayOfInterface(std::span<const RouteRow> routes, Ipv4 localAddress, std::uint32_t interfaceIndex);

// Link-local (169.254.0.0/16) addresses are self-assigned and never reach a neighbour.
bool isLinkLocal(Ipv4 address);

} // namespace vandry
