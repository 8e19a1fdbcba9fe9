#include "discovery/control_sender.h"

namespace vandry {

void ControlSender::send(ControlDatagram header, ByteSpan payload, Endpoint destination)
{
    sendBuilt(header, payload, destination, 0);
}

void ControlSender::sendWithHopLimit(ControlDatagram header, ByteSpan payload, Endpoint destination, int hops)
{
    sendBuilt(header, payload, destination, hops);
}

// `hops` 0: the socket's own hop limit.
void ControlSender::sendBuilt(ControlDatagram header, ByteSpan payload, Endpoint destination, int hops)
{
    if (destination.address == 0 || destination.port == 0)
        return;
    std::lock_guard lock(mutex_);
    header.word = echoWord_.load();
    const auto datagram = buildControlDatagram(header, payload);
    if (!datagram)
        return;
    if (hops > 0)
        socket_.sendToWithHopLimit(*datagram, destination, hops);
    else
        socket_.sendTo(*datagram, destination);
}

} // namespace vandry
