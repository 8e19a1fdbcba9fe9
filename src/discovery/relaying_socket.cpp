#include "discovery/relaying_socket.h"

#include "discovery/relay_envelope.h"

namespace vandry {

bool RelayingSocket::sendTo(ByteSpan datagram, Endpoint destination)
{
    if (!RelayedPeers::isStandIn(destination))
        return socket_.sendTo(datagram, destination);
    const auto peer = peers_.peerAt(destination);
    const auto route = peers_.route();
    if (!peer || !route)
        return false;
    const auto envelope = encodeRelayEnvelope(RelayEnvelope::kToServer, route->self, *peer, datagram);
    return envelope && socket_.sendTo(*envelope, route->server);
}

} // namespace vandry
