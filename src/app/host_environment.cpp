#include "app/host_environment.h"

#include <string>
#include <vector>

#include "app/host_identity.h"
#include "app/route_selection.h"
#include "common/version.h"

namespace vandry {

namespace {

bool anyConfigured(const std::vector<Adapter>& adapters)
{
    for (const auto& adapter : adapters)
        if (adapter.firstAddress != 0)
            return true;
    return false;
}

// Fills entries 0 and 1 of the InterfaceRoute table and the two LAN addresses of the record.
void chooseLanAddresses(HostRecord& record, std::array<InterfaceRoute, 2>& entries, std::span<const RouteRow> routes,
                        std::span<const Adapter> adapters)
{
    record.lanPrimary = primaryAddress(routes, adapters);
    Ipv4 secondaryMask = 0xFFFFFFFF;
    for (const auto& adapter : adapters) {
        const Ipv4 address = adapter.firstAddress;
        if (address == 0 || isLinkLocal(address))
            continue;
        if (address == record.lanPrimary) {
            entries[0].configuredGateway = adapter.configuredGateway;
            entries[0].interfaceIndex = adapter.index;
            continue;
        }
        const auto gateway = gatewayOfInterface(routes, address, adapter.index);
        if (gateway.mask < secondaryMask) {
            secondaryMask = gateway.mask;
            record.lanSecondary = address;
            entries[1].configuredGateway = adapter.configuredGateway;
            entries[1].interfaceIndex = adapter.index;
        }
    }
    entries[0].localAddress = record.lanPrimary;
    entries[1].localAddress = record.lanSecondary;
    for (auto& entry : entries)
        if (entry.localAddress != 0)
            entry.nextHop = gatewayOfInterface(routes, entry.localAddress, entry.interfaceIndex).nextHop;
}

std::string defaultNickname(const HostPlatform& host)
{
    return host.hostName() + "." + std::string(kApplicationShortName);
}

} // namespace

Ipv4 primaryAddress(const NetworkPlatform& network)
{
    const auto adapters = network.adapters();
    if (!adapters)
        return 0;
    return primaryAddress(network.routeTable(), *adapters);
}

bool hasConfiguredAdapter(const NetworkPlatform& network)
{
    const auto adapters = network.adapters();
    return adapters && anyConfigured(*adapters);
}

void buildLocalRecord(NeighbourRecord& localSlot, AppSettings& settings, const NetworkPlatform& network,
                      const HostPlatform& host, std::string_view profileNickname)
{
    HostRecord& record = localSlot.host;
    const auto portUdp = record.portUdp;
    const auto portTcp = record.portTcp;
    localSlot.lastSeen = kLocalRecordLastSeen;
    record = HostRecord{};
    record.portUdp = portUdp;
    record.portTcp = portTcp;
    settings.interfaceRoutes = {};

    // An unreadable list is treated as empty below; only a system with no adapters at all
    // leaves the record blank.
    const auto adapters = network.adapters();
    if (adapters && adapters->empty())
        return;
    if (adapters)
        chooseLanAddresses(record, settings.interfaceRoutes, network.routeTable(), *adapters);

    if (profileNickname.empty())
        record.setNickname(defaultNickname(host));
    else
        record.setNickname(profileNickname);
    record.identity = computeHostIdentity(settings, host);
}

bool networkChanged(AppSettings& settings, const NetworkPlatform& network, bool snapshotOnly)
{
    const auto statistics = network.ipStatistics();
    if (!statistics || *statistics == settings.statistics)
        return false;
    if (snapshotOnly) {
        settings.statistics = *statistics;
        return false;
    }
    bool changed = true;
    if (statistics->interfaceCount == settings.statistics.interfaceCount) {
        changed = false;
        const auto routes = network.routeTable();
        for (const auto& entry : settings.interfaceRoutes) {
            if (entry.localAddress != 0 &&
                gatewayOfInterface(routes, entry.localAddress, entry.interfaceIndex).nextHop != entry.nextHop) {
                changed = true;
                break;
            }
        }
    }
    if (!hasConfiguredAdapter(network))
        return false;
    settings.statistics = *statistics;
    return changed;
}

} // namespace vandry
