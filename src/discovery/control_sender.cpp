#include "discovery/control_sender.h"

namespace vandry {

void ControlSender::send(ControlDatagram header, ByteSpan payload, Endpoint destination)
{
    if (destination.address == 0 || destination.port == 0)
        return;
    std::lock_guard lock(mutex_);
    header.word = echoWord_.load();
    const auto datagram = buildControlDatagram(header, payload);
    if (datagram)
        socket_.sendTo(*datagram, destination);
}

} // namespace vandry
