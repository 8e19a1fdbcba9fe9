#pragma once
// Joins the datagram transport to the rest of the copy: the links queue frames and connect
// through it, the discovery endpoint hands it its packets, and it reaches the links of the link
// table. Built before either side exists, so that both can be given it; the transport and the
// link table are attached once they are.

#include "discovery/reliable_transport_sink.h"
#include "link/datagram_connector.h"
#include "link/link_table.h"
#include "udt/udt_transport.h"

namespace vandry {

class UdtLinkBridge final : public DatagramConnector,
                            public DatagramLinkTransport,
                            public ReliableTransportSink,
                            public UdtLinks {
public:
    void attachTransport(UdtTransport* transport) { transport_ = transport; }
    void attachLinks(LinkTable* links) { links_ = links; }
    void attachRelayedPeers(const RelayedPeers* peers) { relayedPeers_ = peers; }

    // DatagramConnector
    bool connect(LinkIndex link, const NeighbourRecord& peer) override;
    // DatagramLinkTransport
    std::size_t queueFrame(LinkIndex link, ByteSpan bytes) override;
    void endConnection(LinkIndex link, bool notifyPeer) override;
    void resumeDelivery(LinkIndex link) override;
    Endpoint packetDestination(LinkIndex link) const override;
    bool packetsRelayed(LinkIndex link) const override;
    // ReliableTransportSink
    void onDatagram(ByteSpan datagram, Endpoint source) override;
    // UdtLinks
    std::optional<std::uint8_t> openIncomingLink() override;
    void connected(std::uint8_t link) override;
    bool ended(std::uint8_t link) override;
    std::size_t deliver(std::uint8_t link, ByteSpan bytes) override;
    void writable(std::uint8_t link) override;

private:
    FileLink* linkAt(std::uint8_t index);

    UdtTransport* transport_ = nullptr;
    LinkTable* links_ = nullptr;
    const RelayedPeers* relayedPeers_ = nullptr;
};

} // namespace vandry
