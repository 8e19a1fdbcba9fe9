// Feeds a run of datagrams (each prefixed by a u16 length) to a datagram transport from one
// source, with the worker's requests run after each, so that handshakes, data, probes and resets
// in any order reach every state. Re-encoding a parsed header must give the same bytes; what the
// links receive must fit their buffer, and the connection's counters must stay consistent.
#include <array>
#include <cstdlib>
#include <utility>

#include "common/event_log.h"
#include "udt/udt_transport.h"

namespace {
using namespace vandry;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

class NullSocket final : public DatagramSocket {
public:
    bool bind(std::uint16_t) override { return true; }
    std::uint16_t localPort() const override { return 1552; }
    bool sendTo(ByteSpan datagram, Endpoint) override
    {
        require(parseUdtPacket(datagram).has_value());
        return true;
    }
    void setReceiveBufferSize(int) override {}
    void setMulticastTtl(int) override {}
    bool joinMulticastGroup(Ipv4) override { return true; }
    void setReceiveHandler(ReceiveHandler) override {}
};

class CheckingLinks final : public UdtLinks {
public:
    std::optional<std::uint8_t> openIncomingLink() override { return next++ % 127 + 1; }
    void connected(std::uint8_t) override {}
    bool ended(std::uint8_t) override { return true; }
    std::size_t deliver(std::uint8_t, ByteSpan bytes) override
    {
        require(bytes.size() <= UdtConnection::kReceiveLimit);
        return bytes.size() / 2; // a link that holds frames back takes only part
    }
    void writable(std::uint8_t) override {}
    std::uint8_t next = 0;
};

class Work final : public UdtWorkQueue {
public:
    void requestTransmit(std::uint8_t c) override { transmit.push_back(c); }
    void requestRetransmit(std::uint8_t c) override { retransmit.push_back(c); }
    std::vector<std::uint8_t> transmit, retransmit;
};

void checkHeader(ByteSpan datagram)
{
    const auto packet = parseUdtPacket(datagram);
    if (!packet)
        return;
    std::vector<std::uint8_t> again(UdtHeader::kSize);
    writeUdtHeader(packet->header, again);
    require(std::equal(again.begin(), again.end(), datagram.begin()));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ManualClock clock;
    HostRecord local;
    local.identity[15] = 1;
    NeighbourTable neighbours(clock, local);
    NullSocket socket;
    EventLog log(&clock);
    CheckingLinks links;
    Work work;
    std::vector<std::function<void()>> posted;
    UdtTransport transport({socket, clock, neighbours, [] { return std::optional<Endpoint>(); }, log, links, work,
                            [&](std::function<void()> job) { posted.push_back(std::move(job)); },
                            [] { return HostIdentity{}; }});
    const Endpoint source{0xC6120002, 1552};
    ByteReader in(ByteSpan(data, size));
    while (in.remaining() >= 2) {
        const std::size_t length = in.u16le();
        const ByteSpan datagram = in.span(std::min(length, in.remaining()));
        checkHeader(datagram);
        transport.onDatagram(datagram, source);
        // The first link taken for a confirm sends too, so that acknowledgements meet data.
        const std::array<std::uint8_t, 700> frame{};
        transport.queue(1, frame);
        for (const auto c : std::exchange(work.retransmit, {}))
            transport.retransmit(c);
        for (const auto c : std::exchange(work.transmit, {}))
            transport.transmitQueued(c);
        clock.advanceMs(300);
        transport.tick();
        for (auto& job : std::exchange(posted, {}))
            job();
    }
    for (std::uint8_t i = 0; i < UdtTransport::kConnections; ++i) {
        const auto v = transport.view(i);
        require(v.sent <= v.queued && v.queued <= UdtConnection::kSendLimit);
        require(v.ranges <= ReceiveRanges::kMaxRanges);
        require(v.recvNext - v.recvBase <= UdtConnection::kReceiveLimit);
    }
    return 0;
}
