// The relay side of the discovery endpoint: requests to neighbours that no direct path reaches go
// to the best server in envelopes as well, and the envelopes it brings are taken apart here.
#include "discovery/discovery_endpoint.h"
#include "discovery/relay_envelope.h"
#include "discovery/request_server.h"

namespace vandry {

void DiscoveryEndpoint::setRelayedPeers(RelayedPeers* peers)
{
    relayedPeers_ = peers;
}

std::optional<Endpoint> DiscoveryEndpoint::bestServerEndpoint() const
{
    const int best = context_.settings.servers.best();
    return best < 0 ? std::nullopt : serverEndpoint(static_cast<std::size_t>(best));
}

namespace {
std::string relayedNeighbourLine(const HostRecord& neighbour, Endpoint server)
{
    return "Relayed: requests to " + neighbour.nickname() + " " + identityText(neighbour.identity) +
           " go through server " + ipv4ToText(server.address) + ":" + std::to_string(server.port) + "\r\n";
}
} // namespace

void DiscoveryEndpoint::relayIfUnanswered(ByteSpan requestPayload, const NeighbourRecord& target, Endpoint server)
{
    const auto route = relayFallback_.indirectAttempt(target.host.identity, context_.table.clock().tickMs());
    if (route == RelayFallback::Route::Direct)
        return;
    if (route == RelayFallback::Route::RelayFromNow)
        context_.log.append(relayedNeighbourLine(target.host, server));
    ControlDatagram header = controlHeader(ControlType::Request);
    header.word = sender_.echoWord();
    if (const auto inner = buildControlDatagram(header, requestPayload))
        sendEnveloped(target.host.identity, *inner, server);
}

void DiscoveryEndpoint::sendEnveloped(const HostIdentity& to, ByteSpan inner, Endpoint server)
{
    const auto payload = encodeRelayEnvelopePayload(context_.table.local().host.identity, to, inner);
    if (payload)
        sender_.send(controlHeader(ControlType::Relay, RelayEnvelope::kToServer), *payload, server);
}

void DiscoveryEndpoint::noteDirectReply(ByteSpan payload)
{
    if (const auto header = parseRequestHeader(payload))
        relayFallback_.heardDirectly(header->record.identity, context_.table.clock().tickMs());
}

// Only the best server's envelopes are taken, addressed to us; the server checked the sender.
void DiscoveryEndpoint::onRelayed(ByteSpan datagram, Endpoint source)
{
    const auto server = bestServerEndpoint();
    const HostIdentity& self = context_.table.local().host.identity;
    if (!server || source != *server)
        return;
    const auto envelope = parseRelayEnvelope(datagram);
    if (!envelope || envelope->subType != RelayEnvelope::kFromServer || envelope->receiver != self)
        return;
    switch (classifyDatagram(envelope->inner)) {
    case DatagramClass::ReliableTransport:
        if (!relayedPeers_)
            return;
        if (const auto standIn = relayedPeers_->standInFor(envelope->sender)) {
            relayedPeers_->setRoute({self, *server});
            context_.transport.onDatagram(envelope->inner, *standIn);
        }
        return;
    case DatagramClass::Control:
        return onRelayedControl(*envelope, *server);
    case DatagramClass::Drop:
        return;
    }
}

void DiscoveryEndpoint::onRelayedControl(const RelayEnvelope& envelope, Endpoint server)
{
    const auto header = parseControlHeader(envelope.inner);
    const ByteSpan payload = envelope.inner.subspan(ControlDatagram::kSize);
    if (header->type == static_cast<std::uint8_t>(ControlType::Reply))
        return onReply(payload, server);
    if (header->type != static_cast<std::uint8_t>(ControlType::Request) || header->subType != 0)
        return;
    const auto served = serveRequest(payload, context_.services, context_.table.local().host);
    if (!served)
        return;
    // The answer goes back the way the request came: to the sender the server vouched for.
    if (!replyBudget_.take(server.address, served->reply.size(), context_.table.clock().tickMs()))
        return;
    ControlDatagram reply = controlHeader(ControlType::Reply);
    reply.word = sender_.echoWord();
    if (const auto inner = buildControlDatagram(reply, served->reply))
        sendEnveloped(envelope.sender, *inner, server);
}

} // namespace vandry
