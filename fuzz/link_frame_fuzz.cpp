// Feeds a byte stream, cut into arbitrary pieces, into one link socket over TCP (with writes that
// take arbitrary parts of what they are offered) or over the datagram transport. Every frame
// handed to the link must be whole and fit its size rule; it is parsed with the record codecs and
// answered, alternately rewritten in place or rebuilt in the send buffer. What reaches the
// connection must be exactly the answers, in order, never a byte twice.
//
// Input: [setup u8] then repeated [op u8][size u16le][size bytes when the op carries bytes].
// Setup bit 0 picks the datagram transport. Op low two bits: 0 bytes arrive, 1 the connection
// drains `size` bytes and reports writable, 2 the peer closes (a new connection follows),
// 3 the clock moves `size` seconds.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "link/link_records.h"
#include "link/link_socket.h"
#include "link/transfer_event.h"

namespace {
using namespace vandry;
using Bytes = std::vector<std::uint8_t>;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void requireWholeFrame(ByteSpan frame)
{
    require(frame.size() >= FrameHeader::kSize && loadU16le(frame, 0) == frame.size());
    require(payloadAllowed(frame[2], frame[3], frame.size() - FrameHeader::kSize));
}

class FuzzSocket final : public StreamSocket {
public:
    void setHandlers(Handlers h) override { handlers = std::move(h); }
    void connectTo(Endpoint) override {}
    std::int64_t write(ByteSpan bytes) override
    {
        const std::size_t taken = std::min(bytes.size(), budget);
        written.insert(written.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
        budget -= taken;
        return static_cast<std::int64_t>(taken);
    }
    std::int64_t read(MutableByteSpan into) override
    {
        const std::size_t count = std::min(into.size(), incoming.size() - readFrom);
        std::copy_n(incoming.begin() + static_cast<std::ptrdiff_t>(readFrom), count, into.begin());
        readFrom += count;
        return static_cast<std::int64_t>(count);
    }
    std::int64_t bytesAvailable() const override { return static_cast<std::int64_t>(incoming.size() - readFrom); }
    Endpoint peer() const override { return {}; }
    void close() override {}

    Handlers handlers;
    Bytes incoming;
    std::size_t readFrom = 0;
    Bytes written;
    Bytes expected; // every frame the link accepted to send, in order
    std::size_t budget = 0;
};

class NoSockets final : public SocketFactory {
public:
    std::unique_ptr<DatagramSocket> createDatagramSocket() override { return nullptr; }
    std::unique_ptr<StreamSocket> createStreamSocket() override { return std::make_unique<FuzzSocket>(); }
    std::unique_ptr<StreamListener> createStreamListener() override { return nullptr; }
};

class CheckingDatagrams final : public DatagramLinkTransport {
public:
    std::size_t queueFrame(LinkIndex, ByteSpan frame) override
    {
        requireWholeFrame(frame);
        return frame.size();
    }
    void endConnection(LinkIndex, bool) override {}
    void resumeDelivery(LinkIndex) override {}
    Endpoint packetDestination(LinkIndex) const override { return {}; }
};

void parseRecords(ByteSpan frame)
{
    const auto header = parseFrameHeader(frame);
    require(header.has_value());
    ByteReader payload(frame.subspan(FrameHeader::kSize));
    if (header->type == kFrameHello)
        parsePeerInfo(payload);
    else if (header->type == kFrameFile)
        parseTaskRecord(payload);
    else if (header->type == kFrameErrorReport)
        require(errorReportText(frame.subspan(FrameHeader::kSize)).size() <= kMaxFramePayload);
    else
        parseTransferEvent(payload);
}

class FuzzLink final : public LinkSocket {
public:
    using LinkSocket::LinkSocket;
    FuzzSocket* socket = nullptr;

protected:
    void onFrame(MutableByteSpan frame) override
    {
        requireWholeFrame(frame);
        parseRecords(frame);
        int sent = 0;
        if (++frames_ % 2 == 0) {
            storeU16le(frame, FrameHeader::kTagOffset, 0x5A5A);
            sent = sendRaw(frame);
        } else {
            const auto payload = frame.subspan(FrameHeader::kSize);
            std::copy(payload.begin(), payload.end(), sendPayload().begin());
            sent = sendFrame(payload.size(), frame[FrameHeader::kTypeOffset], frame[FrameHeader::kSubOffset]);
            frame = sendBuffer().first(frame.size());
        }
        if (sent > 0 && socket)
            socket->expected.insert(socket->expected.end(), frame.begin(), frame.end());
        require(sent == -1 || sent == static_cast<int>(frame.size()));
    }
    void onFrameRefused(std::uint8_t, std::uint8_t) override { reset(); }
    void failLink(const LinkReport&) override { reset(); }
    void onLinkConnected() override {}

private:
    unsigned frames_ = 0;
};

// The bytes the connection took so far are always the start of what the link sent.
void checkWritten(const FuzzSocket& socket)
{
    require(socket.written.size() <= socket.expected.size());
    require(std::equal(socket.written.begin(), socket.written.end(), socket.expected.begin()));
}

// A link the peer's last connection left idle gets the next one; the link owns it.
void ensureConnection(FuzzLink& link)
{
    if (link.inUse())
        return;
    auto socket = std::make_unique<FuzzSocket>();
    link.socket = socket.get();
    link.acceptTcp(std::move(socket));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteReader in(ByteSpan(data, size));
    const bool datagram = (in.u8() & 1) != 0;
    ManualClock clock;
    NoSockets sockets;
    CheckingDatagrams datagrams;
    FuzzLink link(LinkIndex{1}, {sockets, datagrams, clock});
    while (in.remaining() >= 3) {
        const std::uint8_t op = in.u8();
        const std::uint16_t count = in.u16le();
        if (datagram && !link.inUse())
            link.useDatagramTransport();
        if (!datagram)
            ensureConnection(link);
        FuzzSocket* socket = datagram ? nullptr : link.socket;
        switch (op & 3) {
        case 0: {
            const ByteSpan bytes = in.span(std::min<std::size_t>(count, in.remaining()));
            if (datagram) {
                link.deliver(bytes);
            } else {
                socket->incoming.insert(socket->incoming.end(), bytes.begin(), bytes.end());
                socket->handlers.readable();
            }
            break;
        }
        case 1:
            if (socket) {
                socket->budget = count;
                socket->handlers.writable();
            }
            break;
        case 2:
            if (datagram)
                link.datagramClosed(count & 3);
            else
                socket->handlers.closed();
            break;
        default:
            clock.advanceSeconds(count);
        }
        require(link.received() <= LinkSocket::kBufferSize);
        if (socket)
            checkWritten(*socket);
    }
    if (!datagram && link.inUse()) {
        link.socket->budget = std::numeric_limits<std::size_t>::max();
        link.socket->handlers.writable();
        require(!link.inUse() || link.socket->written == link.socket->expected);
    }
    return 0;
}
