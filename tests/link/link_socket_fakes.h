#pragma once
// Stand-ins for a link's transports: a TCP connection whose writes can take fewer bytes than
// offered, the datagram transport, and a link that records what its socket hands it.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "link/link_socket.h"

namespace vandry::testing {

using Bytes = std::vector<std::uint8_t>;

class FakeStreamSocket final : public StreamSocket {
public:
    void setHandlers(Handlers h) override { handlers = std::move(h); }
    void connectTo(Endpoint destination) override { connectedTo = destination; }
    std::int64_t write(ByteSpan bytes) override
    {
        ++writeCalls;
        if (broken)
            return -1;
        const std::size_t taken = std::min(bytes.size(), writeBudget);
        written.insert(written.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
        writeBudget -= taken;
        return static_cast<std::int64_t>(taken);
    }
    std::int64_t read(MutableByteSpan into) override
    {
        const std::size_t count = std::min(into.size(), incoming.size());
        std::copy_n(incoming.begin(), count, into.begin());
        incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(count));
        return count > 0 || !broken ? static_cast<std::int64_t>(count) : -1;
    }
    std::int64_t bytesAvailable() const override { return static_cast<std::int64_t>(incoming.size()); }
    Endpoint peer() const override { return connectedTo; }
    void close() override { closed = true; }

    // Test side: what the peer does.
    void arrive(ByteSpan bytes)
    {
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
        handlers.readable();
    }
    void drain(std::size_t budget)
    {
        writeBudget = budget;
        handlers.writable();
    }

    Handlers handlers;
    Endpoint connectedTo;
    std::deque<std::uint8_t> incoming;
    Bytes written;
    std::size_t writeBudget = std::numeric_limits<std::size_t>::max();
    int writeCalls = 0;
    bool broken = false;
    bool closed = false;
};

class FakeSocketFactory final : public SocketFactory {
public:
    std::unique_ptr<DatagramSocket> createDatagramSocket() override { return nullptr; }
    std::unique_ptr<StreamSocket> createStreamSocket() override
    {
        auto socket = std::make_unique<FakeStreamSocket>();
        created.push_back(socket.get());
        return socket;
    }
    std::unique_ptr<StreamListener> createStreamListener() override { return nullptr; }
    std::vector<FakeStreamSocket*> created;
};

class FakeDatagramTransport final : public DatagramLinkTransport {
public:
    std::size_t queueFrame(LinkIndex link, ByteSpan frame) override
    {
        const std::size_t taken = std::min(frame.size(), room);
        room -= taken;
        queued.push_back({link, Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(taken))});
        return taken;
    }
    void endConnection(LinkIndex link, bool notifyPeer) override { ended.push_back({link, notifyPeer}); }
    void resumeDelivery(LinkIndex) override { ++resumes; }
    Endpoint packetDestination(LinkIndex) const override { return {0xC6120005, 1552}; }
    int resumes = 0;
    std::vector<std::pair<LinkIndex, Bytes>> queued;
    std::vector<std::pair<LinkIndex, bool>> ended;
    std::size_t room = std::numeric_limits<std::size_t>::max(); // bytes the send buffer still takes
};

struct Failure {
    std::string text;
    std::uint8_t code = 0;
    EventType type = EventType::Status;
};

// Records every call; a failure or refusal resets the link, as a peer link does.
class RecordingLink final : public LinkSocket {
public:
    using LinkSocket::LinkSocket;

    std::vector<Bytes> frames;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> refused;
    std::vector<Failure> failures;
    int connects = 0;
    std::function<void(MutableByteSpan)> answer; // runs inside onFrame when set

protected:
    void onFrame(MutableByteSpan frame) override
    {
        frames.emplace_back(frame.begin(), frame.end());
        if (answer)
            answer(frame);
    }
    void onFrameRefused(std::uint8_t type, std::uint8_t sub) override
    {
        refused.emplace_back(type, sub);
        reset();
    }
    void failLink(const LinkReport& report) override
    {
        failures.push_back({std::string(report.text), report.code, report.type});
        reset();
    }
    void onLinkConnected() override { ++connects; }
};

// A frame of `type`/`sub` whose payload is `payloadLength` bytes counting up from `seed`.
inline Bytes frame(std::uint8_t type, std::uint8_t sub, std::size_t payloadLength, std::uint8_t seed = 0)
{
    Bytes bytes(FrameHeader::kSize + payloadLength, 0);
    storeU16le(bytes, 0, static_cast<std::uint16_t>(bytes.size()));
    bytes[2] = type;
    bytes[3] = sub;
    for (std::size_t i = 0; i < payloadLength; ++i)
        bytes[FrameHeader::kSize + i] = static_cast<std::uint8_t>(seed + i);
    return bytes;
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace vandry::testing
