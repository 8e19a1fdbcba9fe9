#pragma once
// The discovery socket as the datagram transport sends through it: a datagram for a relayed
// neighbour's stand-in (relayed_peers.h) goes to the server in an envelope, everything else as is.

#include "common/socket.h"
#include "discovery/relayed_peers.h"

namespace vandry {

class RelayingSocket final : public DatagramSocket {
public:
    RelayingSocket(DatagramSocket& socket, RelayedPeers& peers) : socket_(socket), peers_(peers) {}

    bool bind(std::uint16_t port) override { return socket_.bind(port); }
    std::uint16_t localPort() const override { return socket_.localPort(); }
    // False for a stand-in without a route or peer, or a datagram too long to wrap.
    bool sendTo(ByteSpan datagram, Endpoint destination) override;
    void setReceiveBufferSize(int bytes) override { socket_.setReceiveBufferSize(bytes); }
    void setMulticastTtl(int ttl) override { socket_.setMulticastTtl(ttl); }
    bool joinMulticastGroup(Ipv4 group) override { return socket_.joinMulticastGroup(group); }
    void setReceiveHandler(ReceiveHandler handler) override { socket_.setReceiveHandler(std::move(handler)); }

private:
    DatagramSocket& socket_;
    RelayedPeers& peers_;
};

} // namespace vandry
