// Feeds a run of datagrams to the receive path of one discovery endpoint, with the clock moving
// between them, and checks everything it sends: whole control datagrams of a type it may answer
// with, never to a zero address or port.
//
// Input: [setup u8][second source: u32 address, u16 port] then repeated [control u8][size u16le]
// [size bytes]. Setup bit 0 turns logging on, bit 1 lists servers 10.0.0.1-3 (so that server
// answers match), bit 2 makes the request services answer. Control bit 0 picks the second source,
// bits 1-2 move the clock by 0, 5, 11 or 130 s first.
#include <cstdlib>
#include <vector>

#include "discovery/discovery_endpoint.h"

namespace {
using namespace vandry;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

class CheckingSocket final : public DatagramSocket {
public:
    bool bind(std::uint16_t port) override
    {
        port_ = port;
        return true;
    }
    std::uint16_t localPort() const override { return port_; }
    bool sendTo(ByteSpan datagram, Endpoint destination) override
    {
        require(destination.address != 0 && destination.port != 0);
        require(classifyDatagram(datagram) == DatagramClass::Control);
        const std::uint8_t type = datagram[2];
        require(type == 2 || type == 6 || type == 144 || type == 147);
        return true;
    }
    void setReceiveBufferSize(int) override {}
    void setMulticastTtl(int) override {}
    bool joinMulticastGroup(Ipv4) override { return true; }
    void setReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }
    void deliver(ByteSpan datagram, Endpoint source) { handler_(datagram, source); }

private:
    std::uint16_t port_ = 0;
    ReceiveHandler handler_;
};

class QuietListener final : public DiscoveryListener {
public:
    void neighboursArrived() override {}
    void announceRequested() override {}
    void serverListArrived() override {}
    void queryReplyArrived(ByteSpan payload, Endpoint) override { check(payload); }
    void listingReplyArrived(ByteSpan payload) override { check(payload); }
    void sourceReplyArrived(ByteSpan payload) override { check(payload); }

private:
    static void check(ByteSpan payload)
    {
        require(payload.size() >= RequestHeader::kSize && loadU16le(payload, 0) <= payload.size());
    }
};

// Answers from the request text itself, including answer blocks that claim more than they hold.
class EagerServices final : public RequestServices {
public:
    int query(std::string_view text, MutableByteSpan destination, std::uint8_t flags) override
    {
        require(destination.size() == 60000);
        storeU16le(destination, 0, 68);
        storeU16le(destination, 4, static_cast<std::uint16_t>(text.size() * 97));
        storeU16le(destination, 6, flags);
        return 0;
    }
    std::vector<std::uint8_t> listFolder(std::string_view path, std::size_t room) override
    {
        return std::vector<std::uint8_t>(path.size() % 3 == 0 ? room + 1 : room / 2, 0x5A);
    }
    std::string pathForKey(const FileKey& key) override { return std::string(key[0], 'p'); }
};

HostRecord localRecord()
{
    HostRecord local;
    local.identity[0] = 0x11;
    local.identity[6] = 0x22;
    local.lanPrimary = 0xC0A80001;
    local.lanSecondary = 0x0A000001;
    local.portTcp = 1552;
    local.setNickname("fuzz");
    return local;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteReader in(ByteSpan(data, size));
    const std::uint8_t setup = in.u8();
    Endpoint second;
    second.address = in.u32le();
    second.port = in.u16le();
    if (!in.ok())
        return 0;

    ManualClock clock;
    AppSettings settings;
    settings.logging = (setup & 1) != 0;
    if (setup & 2)
        for (std::size_t i = 0; i < 3; ++i)
            settings.servers.setEntry(i, "10.0.0." + std::to_string(i + 1), 3333);
    NeighbourTable table(clock, localRecord());
    EventLog log; // never opened: lines are formatted and dropped
    QuietListener listener;
    EagerServices eager;
    NoRequestServices none;
    DroppingTransportSink transport;
    auto owned = std::make_unique<CheckingSocket>();
    auto* socket = owned.get();
    DiscoveryEndpoint endpoint(
        std::move(owned),
        {settings, table, log, listener, (setup & 4) ? static_cast<RequestServices&>(eager) : none, transport});
    endpoint.open();

    constexpr Endpoint kServer{0x0A000001, 3333};
    constexpr std::int64_t kSteps[] = {0, 5, 11, 130};
    while (in.remaining() > 0) {
        const std::uint8_t control = in.u8();
        const std::uint16_t length = in.u16le();
        const ByteSpan datagram = in.span(std::min<std::size_t>(length, in.remaining()));
        clock.advanceSeconds(kSteps[(control >> 1) & 3]);
        socket->deliver(datagram, (control & 1) ? second : kServer);
    }
    return 0;
}
