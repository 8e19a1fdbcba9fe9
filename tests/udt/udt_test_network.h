#pragma once
// Copies with a datagram transport each on one simulated network, driven by hand: packets are
// delivered in the order sent (or dropped or held back by the test), the worker's requests and
// the posted main-thread work run when the test steps the network, on one manual clock.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "common/event_log.h"
#include "udt/udt_transport.h"

namespace vandry::testing {

using Bytes = std::vector<std::uint8_t>;

struct WirePacket {
    Endpoint from;
    Endpoint to;
    Bytes bytes;
    UdtPacket parsed() const { return *parseUdtPacket(bytes); }
};

class UdtNetwork;

class WireSocket final : public DatagramSocket {
public:
    WireSocket(UdtNetwork& net, Endpoint self) : net_(net), self_(self) {}
    bool bind(std::uint16_t) override { return true; }
    std::uint16_t localPort() const override { return self_.port; }
    bool sendTo(ByteSpan datagram, Endpoint destination) override;
    void setReceiveBufferSize(int) override {}
    void setMulticastTtl(int) override {}
    bool joinMulticastGroup(Ipv4) override { return true; }
    void setReceiveHandler(ReceiveHandler) override {}

private:
    UdtNetwork& net_;
    Endpoint self_;
};

// The links of one copy as the transport sees them.
class RecordingLinks final : public UdtLinks {
public:
    std::optional<std::uint8_t> openIncomingLink() override
    {
        if (!freeLinks)
            return std::nullopt;
        const std::uint8_t link = nextLink++;
        opened.push_back(link);
        return link;
    }
    void connected(std::uint8_t link) override { connects.push_back(link); }
    bool ended(std::uint8_t link) override
    {
        ends.push_back(link);
        return true;
    }
    std::size_t deliver(std::uint8_t link, ByteSpan bytes) override
    {
        const std::size_t taken = std::min(bytes.size(), room);
        auto& stream = streams[link];
        stream.insert(stream.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
        ++deliveries;
        return taken;
    }
    void writable(std::uint8_t link) override
    {
        writables.push_back(link);
        if (onWritable)
            onWritable(link);
    }
    std::function<void(std::uint8_t)> onWritable; // what the link does then

    bool freeLinks = true;
    std::uint8_t nextLink = 1;
    std::vector<std::uint8_t> opened, connects, ends, writables;
    std::map<std::uint8_t, Bytes> streams;
    int deliveries = 0;
    std::size_t room = SIZE_MAX; // bytes a link takes per delivery
};

class RecordingWork final : public UdtWorkQueue {
public:
    void requestTransmit(std::uint8_t c) override { transmit.insert(c); }
    void requestRetransmit(std::uint8_t c) override
    {
        retransmit.insert(c);
        ++retransmitRequests;
    }
    std::set<std::uint8_t> transmit, retransmit;
    int retransmitRequests = 0;
};

struct UdtCopy {
    UdtCopy(UdtNetwork& net, Endpoint self, std::uint8_t seed);

    NeighbourRecord record() const { return neighbours.local(); }
    // Runs the worker's requests and the posted work; true when there was any.
    bool runWork();

    Endpoint self;
    WireSocket socket;
    NeighbourTable neighbours;
    EventLog log;
    RecordingLinks links;
    RecordingWork work;
    std::deque<std::function<void()>> posted;
    std::optional<Endpoint> server;
    int nextId = 1;
    std::unique_ptr<UdtTransport> transport;
};

class UdtNetwork {
public:
    UdtCopy& add(Endpoint self, std::uint8_t seed);
    // Each copy learns the others' records as a server would hand them out.
    void introduceAll();

    void send(Endpoint from, Endpoint to, ByteSpan bytes);
    // Delivers packets and runs work until nothing moves or `steps` rounds passed; returns the
    // packets delivered.
    int run(int steps = 100000);
    // Advances the clock by `ms` and ticks every transport.
    void tick(std::uint32_t ms = UdtTransport::kTickMs);
    std::vector<WirePacket> takeSent() { return std::exchange(log_, {}); }
    std::deque<WirePacket>& inFlight() { return inFlight_; }

    ManualClock clock;
    // Returns true to drop a packet; null keeps all.
    std::function<bool(const WirePacket&)> drop;
    // Returns true to let a packet overtake the one sent before it.
    std::function<bool()> overtake;
    // Packets not delivered automatically: the test delivers them.
    bool hold = false;
    std::vector<std::unique_ptr<UdtCopy>> copies;
    // Further addresses a copy is reached at (a translator's public side).
    std::map<std::pair<Ipv4, std::uint16_t>, Endpoint> aliases;
    int delivered = 0;

private:
    UdtCopy* at(Endpoint e);

    std::deque<WirePacket> inFlight_;
    std::vector<WirePacket> log_;
};

Bytes pattern(std::size_t size, std::uint8_t seed);

} // namespace vandry::testing
