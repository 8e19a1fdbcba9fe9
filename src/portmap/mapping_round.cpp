#include "portmap/mapping_round.h"

namespace vandry {

namespace {
std::string noteOf(MappingMethod method, std::string_view what, std::string_view error)
{
    std::string text = std::string(methodName(method)) + ": " + std::string(what);
    if (!error.empty())
        text += " (" + std::string(error) + ")";
    return text;
}

std::optional<PortMapping> mapPort(PortGateway& gateway, MappedPort kind, std::uint16_t internal, std::uint16_t wished,
                                   const MappingWish& wish, const std::function<bool()>& goOn,
                                   std::vector<std::string>& notes)
{
    std::vector<std::uint16_t> candidates{wished != 0 ? wished : internal};
    for (const std::uint16_t port : wish.others)
        if (port != 0 && port != candidates.front())
            candidates.push_back(port);
    const std::string what = std::string(portKindName(kind)) + " port " + std::to_string(internal);
    for (const std::uint16_t external : candidates) {
        if (!goOn())
            return std::nullopt;
        const auto answer = gateway.add(kind, internal, external, wish.leaseSeconds);
        switch (answer.status) {
        case GatewayAddResult::Status::Mapped:
            // NAT-PMP may grant another port than the one asked for; a zero port is no mapping.
            if (answer.externalPort == 0) {
                notes.push_back(noteOf(gateway.method(), "the router granted " + what + " on port 0", answer.error));
                return std::nullopt;
            }
            return PortMapping{kind, internal, answer.externalPort, answer.leaseSeconds};
        case GatewayAddResult::Status::PortTaken:
            notes.push_back(noteOf(gateway.method(),
                                   "external port " + std::to_string(external) + " for " + what + " is taken",
                                   answer.error));
            continue;
        case GatewayAddResult::Status::Failed:
            notes.push_back(noteOf(gateway.method(), "the router refused " + what, answer.error));
            return std::nullopt;
        }
    }
    return std::nullopt;
}
} // namespace

MappingRoundResult runMappingRound(std::span<PortGateway* const> gateways, const MappingWish& wish,
                                   const std::function<bool()>& goOn)
{
    MappingRoundResult result;
    for (PortGateway* gateway : gateways) {
        if (!goOn())
            break;
        std::string error;
        const auto found = gateway->find(error);
        if (!found) {
            result.notes.push_back(noteOf(gateway->method(), "no router answered", error));
            continue;
        }
        auto tcp = mapPort(*gateway, MappedPort::Tcp, wish.tcpPort, wish.tcpExternal, wish, goOn, result.notes);
        if (!tcp)
            continue;
        result.method = gateway->method();
        result.externalAddress = found->externalAddress;
        result.tcp = tcp;
        result.udp = mapPort(*gateway, MappedPort::Udp, wish.udpPort, wish.udpExternal, wish, goOn, result.notes);
        return result;
    }
    return result;
}

} // namespace vandry
