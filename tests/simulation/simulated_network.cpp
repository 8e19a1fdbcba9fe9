#include "simulated_network.h"

#include <algorithm>

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

bool SimulatedSocket::sendToWithHopLimit(ByteSpan datagram, Endpoint destination, int hops)
{
    network_.send(endpoint(), datagram, destination, hops);
    return true;
}

void SimulatedNetwork::addLinuxTranslator(Ipv4 privateAddress, Ipv4 publicAddress, const Clock& clock)
{
    LinuxTranslator& nat = linuxByPrivate_[privateAddress];
    nat.publicAddress = publicAddress;
    nat.clock = &clock;
    linuxPrivateByPublic_[publicAddress] = privateAddress;
}

void SimulatedNetwork::LinuxTranslator::forgetExpired()
{
    const std::uint32_t now = clock->tickMs();
    std::erase_if(flows, [now](const Flow& f) { return now - f.lastMs >= (f.answered ? 120000u : 30000u); });
}

std::optional<Endpoint> SimulatedNetwork::linuxOutbound(LinuxTranslator& nat, Endpoint from, Endpoint to, int hops)
{
    nat.forgetExpired();
    const std::uint32_t now = nat.clock->tickMs();
    auto flow = std::find_if(nat.flows.begin(), nat.flows.end(),
                             [&](const Flow& f) { return f.inside == from && f.remote == to; });
    if (flow != nat.flows.end())
        flow->lastMs = now;
    if (hops == 1)
        return std::nullopt;
    if (flow == nat.flows.end()) {
        std::uint16_t port = from.port;
        const auto taken = [&](std::uint16_t p) {
            return std::any_of(nat.flows.begin(), nat.flows.end(),
                               [&](const Flow& f) { return f.publicPort == p && f.remote == to; });
        };
        while (taken(port))
            port = nat.nextPort++;
        nat.flows.push_back({from, port, to, false, now});
        flow = nat.flows.end() - 1;
    }
    return Endpoint{nat.publicAddress, flow->publicPort};
}

std::optional<Endpoint> SimulatedNetwork::linuxInbound(LinuxTranslator& nat, Endpoint destination, Endpoint from)
{
    nat.forgetExpired();
    const std::uint32_t now = nat.clock->tickMs();
    const auto flow = std::find_if(nat.flows.begin(), nat.flows.end(),
                                   [&](const Flow& f) { return f.publicPort == destination.port && f.remote == from; });
    if (flow == nat.flows.end()) {
        nat.flows.push_back({Endpoint{}, destination.port, from, false, now});
        return std::nullopt;
    }
    flow->lastMs = now;
    if (flow->inside.port == 0)
        return std::nullopt;
    flow->answered = true;
    return flow->inside;
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

void SimulatedNetwork::send(Endpoint from, ByteSpan datagram, Endpoint to, int hops)
{
    if (auto it = linuxByPrivate_.find(from.address); it != linuxByPrivate_.end()) {
        const auto translated = linuxOutbound(it->second, from, to, hops);
        if (!translated) {
            ++dropped_;
            return;
        }
        from = *translated;
    }
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
        // A home network's own addresses cannot be reached from outside it.
        if (linuxByPrivate_.count(datagram.destination.address)) {
            ++dropped_;
            continue;
        }
        const auto masquerading = linuxPrivateByPublic_.find(datagram.destination.address);
        const auto target =
            masquerading != linuxPrivateByPublic_.end()
                ? linuxInbound(linuxByPrivate_[masquerading->second], datagram.destination, datagram.source)
                : translateInbound(datagram.destination, datagram.source.address);
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
