#pragma once
// AppSettings: the configuration and host state of one running copy. Other threads read the
// server list and probe state as they stand; the main thread writes everything else.

#include <array>
#include <cstdint>
#include <string>

#include "common/identity.h"
#include "common/ipv4.h"

namespace vandry {

inline constexpr std::size_t kServerCount = 8;
inline constexpr std::size_t kMaxRootLength = 259;

struct ServerList {
    std::array<std::string, kServerCount> addresses{}; // dotted text, empty = unused
    std::array<std::uint16_t, kServerCount> ports{3333, 3333, 1552, 0, 0, 0, 0, 0};
    int best = -1;               // best-server index, -1 = none known
    std::uint8_t probeState = 0; // 0 idle, 2 probing, 3 list arrived while probing; else lists received
};

// The two local adapters in use: entry 0 for the primary address, entry 1 for the secondary.
struct InterfaceRoute {
    Ipv4 localAddress = 0;
    Ipv4 configuredGateway = 0;
    Ipv4 nextHop = 0;
    std::uint32_t interfaceIndex = 0;
    bool operator==(const InterfaceRoute&) const = default;
};

struct IpStatistics {
    std::uint32_t interfaceCount = 0;
    std::uint32_t routeCount = 0;
    bool operator==(const IpStatistics&) const = default;
};

struct AppSettings {
    std::string downloadRoot; // ends in the path separator once saved by the settings dialog
    std::string shareRoot;
    ServerList servers;
    int uploadLimit = -1; // bytes per second, -1 = unlimited; not persisted
    bool logging = false;
    HostIdentity identityCache{}; // zero until computed
    IpStatistics statistics;
    std::array<InterfaceRoute, 2> interfaceRoutes{};
};

} // namespace vandry
