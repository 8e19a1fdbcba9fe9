#pragma once
// What the host environment code needs to know about the machine and its network, as small
// interfaces so that address selection and change detection are tested with fakes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "common/ipv4.h"

namespace vandry {

// One row of the IPv4 route table; addresses and masks are host-order numbers.
struct RouteRow {
    Ipv4 destination = 0;
    Ipv4 mask = 0;
    Ipv4 nextHop = 0;
    std::uint32_t interfaceIndex = 0;
    std::uint32_t metric = 0;
    bool operator==(const RouteRow&) const = default;
};

// One network adapter. firstAddress is 0 when it has no IPv4 address in use.
struct Adapter {
    std::uint32_t index = 0;
    std::string name;
    Ipv4 firstAddress = 0;
    Ipv4 configuredGateway = 0; // 0 when none is configured
    bool operator==(const Adapter&) const = default;
};

class NetworkPlatform {
public:
    virtual ~NetworkPlatform() = default;
    // In the order the system lists them; empty when the table cannot be read.
    virtual std::vector<RouteRow> routeTable() const = 0;
    // In list order; nothing when the list cannot be read, an empty list when there are no adapters.
    virtual std::optional<std::vector<Adapter>> adapters() const = 0;
    virtual std::optional<IpStatistics> ipStatistics() const = 0;
};

struct OsVersion {
    unsigned major = 0;
    unsigned minor = 0;
    bool operator==(const OsVersion&) const = default;
};

class HostPlatform {
public:
    virtual ~HostPlatform() = default;
    // A text that stays the same for this machine across restarts; the host identity hashes it.
    virtual std::string machineText() const = 0;
    virtual OsVersion osVersion() const = 0;
    virtual std::string hostName() const = 0;
};

} // namespace vandry
