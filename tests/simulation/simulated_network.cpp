#include "simulated_network.h"

namespace vandry::testing {

SimulatedSocket::~SimulatedSocket()
{
    if (port_ != 0)
        network_.detach(*this);
}

bool SimulatedSocket::bind(std::uint16_t port)
{
    port_ = port != 0 ? port : 50000;
    network_.attach(*this);
    return true;
}

bool SimulatedSocket::sendTo(ByteSpan datagram, Endpoint destination)
{
    network_.send(endpoint(), datagram, destination);
    return true;
}

void SimulatedNetwork::addTranslator(Ipv4 privateAddress, Ipv4 publicAddress)
{
    translatorsByPrivate_[privateAddress].publicAddress = publicAddress;
    privateByPublic_[publicAddress] = privateAddress;
}

void SimulatedNetwork::attach(SimulatedSocket& socket)
{
    sockets_[socket.endpoint()] = &socket;
}

void SimulatedNetwork::detach(SimulatedSocket& socket)
{
    sockets_.erase(socket.endpoint());
}

void SimulatedNetwork::send(Endpoint from, ByteSpan datagram, Endpoint to)
{
    if (auto it = translatorsByPrivate_.find(from.address); it != translatorsByPrivate_.end()) {
        Translator& nat = it->second;
        auto mapping = nat.outbound.find(from);
        if (mapping == nat.outbound.end()) {
            mapping = nat.outbound.emplace(from, nat.nextPort++).first;
            nat.inbound[mapping->second] = from;
        }
        nat.permitted.insert({mapping->second, to.address});
        from = {nat.publicAddress, mapping->second};
    }
    queue_.push_back({std::vector<std::uint8_t>(datagram.begin(), datagram.end()), from, to});
}

std::optional<Endpoint> SimulatedNetwork::translateInbound(Endpoint destination, Ipv4 from)
{
    const auto privateIt = privateByPublic_.find(destination.address);
    if (privateIt == privateByPublic_.end())
        return destination;
    Translator& nat = translatorsByPrivate_[privateIt->second];
    const auto inbound = nat.inbound.find(destination.port);
    if (inbound == nat.inbound.end() || !nat.permitted.count({destination.port, from}))
        return std::nullopt;
    return inbound->second;
}

int SimulatedNetwork::run(int limit)
{
    int delivered = 0;
    while (!queue_.empty() && delivered < limit) {
        InFlight datagram = std::move(queue_.front());
        queue_.pop_front();
        const auto target = translateInbound(datagram.destination, datagram.source.address);
        const auto socket = target ? sockets_.find(*target) : sockets_.end();
        if (socket == sockets_.end()) {
            ++dropped_;
            continue;
        }
        ++delivered;
        socket->second->receive(datagram.bytes, datagram.source);
    }
    return delivered;
}

} // namespace vandry::testing
