// The discovery endpoint's part in punching paths through address translators: which datagrams
// may go to a neighbour's mapped endpoint, the probes the schedule asks for, and the datagrams
// from neighbours that confirm a path.
#include <cstdio>

#include "discovery/discovery_endpoint.h"

namespace vandry {

namespace {
// Below every router but our own translator, which refreshes its entry for the flow and drops it.
constexpr int kKeepAliveHops = 1;

Endpoint mappedOf(const NeighbourRecord& neighbour)
{
    return {neighbour.host.mapAddr, neighbour.host.mapPort};
}
} // namespace

// On its public address, a confirmed LAN address, or behind our own translator: nothing to punch.
// The address a probe last came from does not count; it is good for ten seconds only.
bool DiscoveryEndpoint::reachableUnpunched(const NeighbourRecord& neighbour) const
{
    NeighbourRecord lasting = neighbour;
    lasting.observedAddr = 0;
    return context_.table.chooseAddress(lasting).has_value();
}

std::optional<Endpoint> DiscoveryEndpoint::directPath(const NeighbourRecord& neighbour)
{
    if (const auto chosen = context_.table.chooseAddress(neighbour))
        return chosen;
    return punch_.path(neighbour.host.identity);
}

bool DiscoveryEndpoint::mayReachMapped(const NeighbourRecord& neighbour, PunchRole role)
{
    const Endpoint mapped = mappedOf(neighbour);
    if (mapped.address == 0 || mapped.port == 0)
        return false;
    punch_.want(neighbour.host.identity, mapped, role);
    return punch_.takeMappedSend(neighbour.host.identity);
}

void DiscoveryEndpoint::punchTick()
{
    for (const auto& due : punch_.tick()) {
        const int hops = due.kind == PunchSend::Kind::KeepAlive ? kKeepAliveHops : 0;
        sendProbe(due.to, hops);
    }
}

// The address field names the address we aimed at; the neighbour answers when it is one of its
// own (a LAN address, or its mapped address).
void DiscoveryEndpoint::sendProbe(Endpoint to, int hops)
{
    const auto header = controlHeader(ControlType::Punch, 0, to.address);
    const auto& identity = context_.table.local().host.identity;
    if (hops > 0)
        sender_.sendWithHopLimit(header, identity, to, hops);
    else
        sender_.send(header, identity, to);
}

// Only a datagram from the neighbour's own translator counts: anyone else naming it could
// otherwise draw its traffic.
void DiscoveryEndpoint::heardFrom(const HostIdentity& identity, Endpoint source)
{
    const auto slot = context_.table.find(identity, false);
    if (!slot || *slot == NeighbourTable::kLocalSlot)
        return;
    const NeighbourRecord& neighbour = context_.table.at(*slot);
    if (neighbour.host.mapAddr == 0 || neighbour.host.mapAddr != source.address || reachableUnpunched(neighbour))
        return;
    if (!punch_.heard(identity, source))
        return;
    // Tell the neighbour at once that its datagrams get through; its answer opens its side.
    sendProbe(source, 0);
    char line[128];
    std::snprintf(line, sizeof line, "Punch: %s open at %s:%u after %u ms\r\n", identityText(identity).c_str(),
                  ipv4ToText(source.address).c_str(), source.port, punch_.openedAfterMs(identity).value_or(0));
    context_.log.append(line);
}

} // namespace vandry
