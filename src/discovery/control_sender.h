#pragma once
// Builds and sends the endpoint's control datagrams. The server probe sends from its own thread
// while the main thread answers and asks, so each datagram is built and sent under one lock, and
// every datagram is built in its own buffer (a received datagram is never overwritten).

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/bytes.h"
#include "common/ipv4.h"
#include "common/socket.h"
#include "discovery/control_datagram.h"

namespace vandry {

// A header for sending: bytes 6-7 zero, and the address field 0 unless the type gives it a value.
inline ControlDatagram controlHeader(ControlType type, std::uint8_t subType = 0, Ipv4 address = 0)
{
    ControlDatagram header;
    header.type = static_cast<std::uint8_t>(type);
    header.subType = subType;
    header.address = address;
    return header;
}

class ControlSender {
public:
    explicit ControlSender(DatagramSocket& socket) : socket_(socket) {}

    // Sends `header` and `payload`. The length and the echo word (offset 4) are filled in here;
    // bytes 6-11 go out as given. Nothing is sent to a zero address or port (0.0.0.0 would reach
    // this very host) or when the datagram would exceed 65535 bytes. Failures are not reported
    // further: sends are fire-and-forget.
    void send(ControlDatagram header, ByteSpan payload, Endpoint destination);
    // The same with the IP hop limit `hops` for this one datagram.
    void sendWithHopLimit(ControlDatagram header, ByteSpan payload, Endpoint destination, int hops);

    // Bytes 4-5 of the last record list (type 2 or 3) received; every datagram sent carries it.
    void setEchoWord(std::uint16_t word) { echoWord_.store(word); }
    std::uint16_t echoWord() const { return echoWord_.load(); }

private:
    void sendBuilt(ControlDatagram header, ByteSpan payload, Endpoint destination, int hops);

    DatagramSocket& socket_;
    std::mutex mutex_;
    std::atomic<std::uint16_t> echoWord_{0};
};

} // namespace vandry
