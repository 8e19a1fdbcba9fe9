#include "udt/udt_link_bridge.h"

namespace vandry {

namespace {
std::uint8_t connectionOf(LinkIndex link)
{
    return static_cast<std::uint8_t>(static_cast<std::uint16_t>(link));
}
} // namespace

bool UdtLinkBridge::connect(LinkIndex link, const NeighbourRecord& peer)
{
    return transport_ && static_cast<std::uint16_t>(link) < UdtTransport::kConnections &&
           transport_->connect(connectionOf(link), peer);
}

std::size_t UdtLinkBridge::queueFrame(LinkIndex link, ByteSpan bytes)
{
    return transport_ ? transport_->queue(connectionOf(link), bytes) : bytes.size();
}

void UdtLinkBridge::endConnection(LinkIndex link, bool notifyPeer)
{
    if (transport_)
        transport_->close(connectionOf(link), notifyPeer);
}

void UdtLinkBridge::resumeDelivery(LinkIndex link)
{
    if (transport_)
        transport_->deliverPending(connectionOf(link));
}

Endpoint UdtLinkBridge::packetDestination(LinkIndex link) const
{
    const Endpoint peer = transport_ ? transport_->view(connectionOf(link)).peer : Endpoint{};
    if (!RelayedPeers::isStandIn(peer))
        return peer;
    const auto route = relayedPeers_ ? relayedPeers_->route() : std::nullopt;
    return route ? route->server : Endpoint{};
}

bool UdtLinkBridge::packetsRelayed(LinkIndex link) const
{
    return transport_ && RelayedPeers::isStandIn(transport_->view(connectionOf(link)).peer);
}

void UdtLinkBridge::onDatagram(ByteSpan datagram, Endpoint source)
{
    if (transport_)
        transport_->onDatagram(datagram, source);
}

std::optional<std::uint8_t> UdtLinkBridge::openIncomingLink()
{
    if (!links_)
        return std::nullopt;
    const auto link = links_->openIncomingDatagramLink();
    if (!link)
        return std::nullopt;
    return connectionOf(*link);
}

FileLink* UdtLinkBridge::linkAt(std::uint8_t index)
{
    return links_ && index < LinkTable::kLinks ? &links_->link(LinkIndex{index}) : nullptr;
}

void UdtLinkBridge::connected(std::uint8_t index)
{
    if (auto* link = linkAt(index))
        link->datagramConnected(0);
}

bool UdtLinkBridge::ended(std::uint8_t index)
{
    auto* link = linkAt(index);
    if (!link || link->transport() != LinkTransport::Datagram)
        return false;
    link->datagramClosed(LinkSocket::kDatagramEndedByTransport);
    return true;
}

std::size_t UdtLinkBridge::deliver(std::uint8_t index, ByteSpan bytes)
{
    auto* link = linkAt(index);
    return link ? link->deliver(bytes) : bytes.size();
}

void UdtLinkBridge::writable(std::uint8_t index)
{
    if (auto* link = linkAt(index))
        link->datagramWritable();
}

} // namespace vandry
