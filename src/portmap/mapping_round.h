#pragma once
// One round of asking the home router for the copy's two ports: the methods are tried in order
// until one maps the TCP listener; the UDP endpoint is mapped by the same method. Each port asks
// for its wished external port first, then the others given, while the router says "taken".
// Runs on the mapping worker: every call into a gateway blocks.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "portmap/port_gateway.h"

namespace vandry {

struct PortMapping {
    MappedPort kind = MappedPort::Tcp;
    std::uint16_t internalPort = 0;
    std::uint16_t externalPort = 0;
    std::uint32_t leaseSeconds = 0;
    bool operator==(const PortMapping&) const = default;
};

struct MappingWish {
    std::uint16_t tcpPort = 0;     // the transfer listener
    std::uint16_t udpPort = 0;     // the discovery endpoint
    std::uint16_t tcpExternal = 0; // asked for first; 0: the same as the local port
    std::uint16_t udpExternal = 0;
    std::uint32_t leaseSeconds = 0;
    std::vector<std::uint16_t> others; // tried in this order when the wished port is taken
};

struct MappingRoundResult {
    std::optional<MappingMethod> method; // none: no method mapped the TCP listener
    Ipv4 externalAddress = 0;
    std::optional<PortMapping> tcp;
    std::optional<PortMapping> udp;
    std::vector<std::string> notes; // one line per failure, for the event log
};

// `goOn` is asked before every call to a gateway; once it answers false the round ends with what
// it has (a copy that stops does not wait for more questions to the router).
MappingRoundResult runMappingRound(std::span<PortGateway* const> gateways, const MappingWish& wish,
                                   const std::function<bool()>& goOn);

} // namespace vandry
