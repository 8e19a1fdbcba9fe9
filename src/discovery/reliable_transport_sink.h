#pragma once
// The reliable datagram transport shares the discovery socket; its packets carry 0xFF98 where a
// control datagram has its length, and the endpoint hands them over unread.

#include "common/bytes.h"
#include "common/ipv4.h"

namespace vandry {

class ReliableTransportSink {
public:
    virtual ~ReliableTransportSink() = default;
    // Called on the endpoint's thread; `datagram` is valid only during the call.
    virtual void onDatagram(ByteSpan datagram, Endpoint source) = 0;
};

// For a copy without the transport: its packets are dropped.
class DroppingTransportSink final : public ReliableTransportSink {
public:
    void onDatagram(ByteSpan, Endpoint) override {}
};

} // namespace vandry
