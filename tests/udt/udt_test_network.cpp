#include "udt_test_network.h"

namespace vandry::testing {

namespace {
HostRecord hostAt(Endpoint self, std::uint8_t seed)
{
    HostRecord host;
    for (std::size_t i = 0; i < host.identity.size(); ++i)
        host.identity[i] = static_cast<std::uint8_t>(seed * 16 + i + 1);
    host.lanPrimary = self.address;
    host.portUdp = self.port;
    host.portTcp = self.port;
    host.setNickname("copy");
    return host;
}
} // namespace

bool WireSocket::sendTo(ByteSpan datagram, Endpoint destination)
{
    net_.send(self_, destination, datagram);
    return true;
}

UdtCopy::UdtCopy(UdtNetwork& net, Endpoint self_, std::uint8_t seed)
    : self(self_), socket(net, self_), neighbours(net.clock, hostAt(self_, seed)), log(&net.clock)
{
    transport = std::make_unique<UdtTransport>(
        UdtContext{socket, net.clock, neighbours, [this] { return server; }, log, links, work,
                   [this](std::function<void()> job) { posted.push_back(std::move(job)); },
                   [this] {
                       HostIdentity id{};
                       id[0] = static_cast<std::uint8_t>(nextId++);
                       id[15] = 0xC1;
                       return id;
                   }});
}

bool UdtCopy::runWork()
{
    bool any = false;
    while (!work.retransmit.empty() || !work.transmit.empty() || !posted.empty()) {
        any = true;
        for (const auto c : std::exchange(work.retransmit, {}))
            transport->retransmit(c);
        for (const auto c : std::exchange(work.transmit, {}))
            transport->transmitQueued(c);
        while (!posted.empty()) {
            auto job = std::move(posted.front());
            posted.pop_front();
            job();
        }
    }
    return any;
}

UdtCopy& UdtNetwork::add(Endpoint self, std::uint8_t seed)
{
    copies.push_back(std::make_unique<UdtCopy>(*this, self, seed));
    return *copies.back();
}

void UdtNetwork::introduceAll()
{
    for (auto& copy : copies) {
        std::vector<HostRecord> others;
        for (auto& other : copies)
            if (other != copy)
                others.push_back(other->neighbours.local().host);
        copy->neighbours.merge(others, 0);
    }
}

void UdtNetwork::send(Endpoint from, Endpoint to, ByteSpan bytes)
{
    WirePacket packet{from, to, Bytes(bytes.begin(), bytes.end())};
    log_.push_back(packet);
    if (drop && drop(packet))
        return;
    if (overtake && overtake() && !inFlight_.empty())
        inFlight_.insert(inFlight_.end() - 1, std::move(packet));
    else
        inFlight_.push_back(std::move(packet));
}

UdtCopy* UdtNetwork::at(Endpoint e)
{
    if (const auto alias = aliases.find({e.address, e.port}); alias != aliases.end())
        e = alias->second;
    for (auto& copy : copies)
        if (copy->self == e)
            return copy.get();
    return nullptr;
}

int UdtNetwork::run(int steps)
{
    int count = 0;
    for (int step = 0; step < steps; ++step) {
        bool moved = false;
        for (auto& copy : copies)
            moved = copy->runWork() || moved;
        if (!hold && !inFlight_.empty()) {
            WirePacket packet = std::move(inFlight_.front());
            inFlight_.pop_front();
            if (UdtCopy* target = at(packet.to))
                target->transport->onDatagram(packet.bytes, packet.from);
            ++count;
            ++delivered;
            moved = true;
        }
        if (!moved)
            break;
    }
    return count;
}

void UdtNetwork::tick(std::uint32_t ms)
{
    clock.advanceMs(ms);
    for (auto& copy : copies)
        copy->transport->tick();
}

Bytes pattern(std::size_t size, std::uint8_t seed)
{
    Bytes bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

} // namespace vandry::testing
