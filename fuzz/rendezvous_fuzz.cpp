// Feeds a sequence of datagrams from a few sources to the rendezvous server, with the clock moving
// and silent copies swept in between, and checks what it sends: only to those sources, only whole
// datagrams a copy can read, and never more copies kept than allowed.
//
// Input: repeated [control u8][size u16le][size bytes]. Control bits 0-1 pick the source; bit 2 sets
// the datagram's length field to its size (so that deep paths are reached); bit 3 moves the clock
// 45 s on first; bit 4 sweeps silent copies afterwards; bit 5 answers the last return-routability
// check, from the same source, as a copy would.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "common/clock.h"
#include "common/socket.h"
#include "discovery/compressed_datagram.h"
#include "discovery/control_datagram.h"
#include "server/core/rendezvous_server.h"

namespace {
using namespace vandry;

constexpr std::size_t kMaxCopies = 3;
constexpr Endpoint kSources[] = {{0x0A000001, 1000}, {0x0A000002, 2000}, {0x0A000003, 3000}, {0x0A000001, 1001}};

void require(bool condition)
{
    if (!condition)
        std::abort();
}

class CheckingSocket final : public DatagramSocket {
public:
    bool bind(std::uint16_t) override { return true; }
    std::uint16_t localPort() const override { return 3333; }
    bool sendTo(ByteSpan datagram, Endpoint to) override
    {
        require(std::find(std::begin(kSources), std::end(kSources), to) != std::end(kSources));
        require(datagram.size() <= ControlDatagram::kMaxSize);
        if (classifyDatagram(datagram) == DatagramClass::ReliableTransport) {
            require(datagram.size() == 76 && datagram[7] == 0x08 && datagram[56] == 1);
            return true;
        }
        require(classifyDatagram(datagram) == DatagramClass::Control);
        const std::uint8_t type = datagram[2];
        if (type == 2 || type == 3) {
            std::vector<std::uint8_t> expanded(datagram.begin(), datagram.end());
            require(expandCompressedDatagram(expanded, ControlDatagram::kMaxSize + ControlDatagram::kSize) ==
                    LzwStatus::Ok);
            require(parseRecordList(ByteSpan(expanded).subspan(ControlDatagram::kSize)).has_value());
        } else if (type == 147) {
            require(datagram.size() <= 28 && datagram[3] == 0);
            lastCheck.assign(datagram.begin(), datagram.end());
            lastCheck[3] = 1; // what the copy there would echo
        } else {
            require(type == 0 || type == 5 || (type == 148 && datagram.size() == ControlDatagram::kSize));
        }
        return true;
    }
    void setReceiveBufferSize(int) override {}
    void setMulticastTtl(int) override {}
    bool joinMulticastGroup(Ipv4) override { return true; }
    void setReceiveHandler(ReceiveHandler h) override { handler = std::move(h); }
    ReceiveHandler handler;
    std::vector<std::uint8_t> lastCheck;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CheckingSocket socket;
    ManualClock clock;
    RendezvousSettings settings;
    settings.maxCopies = kMaxCopies;
    settings.forgetAfterSeconds = 90;
    RendezvousServer server(socket, clock, settings, [](const std::string&) {});
    ByteReader in(ByteSpan(data, size));
    while (in.remaining() >= 3) {
        const std::uint8_t control = in.u8();
        const std::size_t length = std::min<std::size_t>(in.u16le(), in.remaining());
        const ByteSpan bytes = in.span(length);
        std::vector<std::uint8_t> datagram(bytes.begin(), bytes.end());
        if ((control & 4) && datagram.size() >= 2)
            storeU16le(datagram, 0, static_cast<std::uint16_t>(datagram.size()));
        if (control & 8)
            clock.advanceSeconds(45);
        socket.handler(datagram, kSources[control & 3]);
        if ((control & 32) && !socket.lastCheck.empty())
            socket.handler(std::vector<std::uint8_t>(socket.lastCheck), kSources[control & 3]);
        if (control & 16)
            server.forgetSilentCopies();
        require(server.copies().size() <= kMaxCopies);
    }
    return 0;
}
