#pragma once
// How a link asks the reliable datagram transport for a connection to a neighbour that TCP cannot
// reach. The transport implements it; until then NoDatagramConnector refuses every attempt.

#include "discovery/host_record.h"
#include "link/link_socket.h"

namespace vandry {

class DatagramConnector {
public:
    virtual ~DatagramConnector() = default;
    // Starts connecting link `link` to `peer`; the outcome arrives as the link's
    // datagramConnected. False when no attempt can be made: the link then fails at once.
    virtual bool connect(LinkIndex link, const NeighbourRecord& peer) = 0;
};

class NoDatagramConnector final : public DatagramConnector {
public:
    bool connect(LinkIndex, const NeighbourRecord&) override { return false; }
};

} // namespace vandry
