// A call through the server's relay, for a neighbour whose translator answers no one but the
// flow it opened: the call goes to the neighbour's stand-in endpoint, which the socket wraps in an
// envelope to the server, and if its answer comes first the connection keeps that path.
#include "discovery/host_record.h"
#include "udt/udt_transport.h"

namespace vandry {

bool UdtTransport::callThroughRelay(std::uint8_t index, const NeighbourRecord& callee, const HandshakeRecord& record,
                                    std::optional<Endpoint> server)
{
    if (!relayedPeers_ || !server || server->address == 0 || server->port == 0)
        return false;
    const auto route = callFallback_.indirectAttempt(callee.host.identity, context_.clock.tickMs());
    if (route == RelayFallback::Route::Direct)
        return false;
    const auto standIn = relayedPeers_->standInFor(callee.host.identity);
    if (!standIn)
        return false;
    relayedPeers_->setRoute({context_.neighbours.local().host.identity, *server});
    if (route == RelayFallback::Route::RelayFromNow)
        context_.log.append("UDT_RELAY_PATH " + callee.host.nickname() + " " + identityText(callee.host.identity) +
                            " through server " + ipv4ToText(server->address) + ":" + std::to_string(server->port) +
                            "\r\n");
    sendHandshake(UdtType::UDT_CALL, index, 0, record, *standIn);
    return true;
}

} // namespace vandry
