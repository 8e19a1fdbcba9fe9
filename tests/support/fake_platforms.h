#pragma once
// Hand-filled stand-ins for the system's network and host facts.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/network_platform.h"

namespace vandry::testing {

inline Ipv4 ip(std::string_view dotted)
{
    return ipv4FromText(dotted).value();
}

class FakeNetwork final : public NetworkPlatform {
public:
    std::vector<RouteRow> routeTable() const override { return routes; }
    std::optional<std::vector<Adapter>> adapters() const override { return adapterList; }
    std::optional<IpStatistics> ipStatistics() const override { return statistics; }

    std::vector<RouteRow> routes;
    std::optional<std::vector<Adapter>> adapterList = std::vector<Adapter>{};
    std::optional<IpStatistics> statistics;
};

class FakeHost final : public HostPlatform {
public:
    std::string machineText() const override
    {
        ++machineReads;
        return machine;
    }
    OsVersion osVersion() const override { return os; }
    std::string hostName() const override { return name; }

    std::string machine = "0123456789abcdef0123456789abcdef";
    OsVersion os{6, 1};
    std::string name = "workstation";
    mutable int machineReads = 0;
};

} // namespace vandry::testing
