#pragma once
// Byte streams between copies in one process: sockets addressed by Endpoint, every connect,
// write and close delivered later, in order, when the test pumps the network. Each connection
// keeps a log of the bytes each side wrote, so tests can see what went over the wire.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "common/socket.h"

namespace vandry::testing {

class MemoryNetwork;
class MemoryListener;

// One side of a connection; shared with the deliveries queued for it.
struct StreamEnd {
    Ipv4 address = 0;
    Endpoint remote;
    std::deque<std::uint8_t> inbox;
    StreamSocket::Handlers handlers;
    bool open = true;
    std::weak_ptr<StreamEnd> other;
    std::vector<std::uint8_t> sent;
};

class MemoryStreamSocket final : public StreamSocket {
public:
    MemoryStreamSocket(MemoryNetwork& network, Ipv4 address);
    ~MemoryStreamSocket() override;

    void setHandlers(Handlers handlers) override { end_->handlers = std::move(handlers); }
    void connectTo(Endpoint destination) override;
    std::int64_t write(ByteSpan bytes) override;
    std::int64_t read(MutableByteSpan into) override;
    std::int64_t bytesAvailable() const override { return static_cast<std::int64_t>(end_->inbox.size()); }
    Endpoint peer() const override { return end_->remote; }
    void close() override;

    const std::shared_ptr<StreamEnd>& end() const { return end_; }

private:
    MemoryNetwork& network_;
    std::shared_ptr<StreamEnd> end_;
};

class MemoryListener final : public StreamListener {
public:
    MemoryListener(MemoryNetwork& network, Ipv4 address) : network_(network), address_(address) {}
    ~MemoryListener() override;
    bool listen(std::uint16_t port) override;
    std::uint16_t localPort() const override { return port_; }
    void setAcceptHandler(AcceptHandler handler) override { handler_ = std::move(handler); }
    void deliver(std::unique_ptr<StreamSocket> connection);

private:
    MemoryNetwork& network_;
    Ipv4 address_;
    std::uint16_t port_ = 0;
    AcceptHandler handler_;
};

class MemoryNetwork {
public:
    void post(std::function<void()> work) { queue_.push_back(std::move(work)); }
    // Runs before each delivery: a test lets time pass there, so that the wire takes time.
    std::function<void()> beforeDelivery;
    // Sees, and may alter, each write a side at `from` makes: a test plays a peer that lies.
    std::function<void(Ipv4 from, std::vector<std::uint8_t>& bytes)> onWrite;
    // Runs deliveries, and those they cause, until none is left or `done` holds; false when
    // `limit` deliveries were not enough.
    bool pump(const std::function<bool()>& done = {}, std::size_t limit = 10'000'000);

    bool bind(Endpoint at, MemoryListener& listener);
    void unbind(Endpoint at);
    MemoryListener* listenerAt(Endpoint at) const;
    std::uint16_t freePort(Ipv4 address) const;

    void track(const std::shared_ptr<StreamEnd>& end) { ends_.push_back(end); }
    // What each connection side at `address` wrote, in the order the sides were made.
    std::vector<std::vector<std::uint8_t>> sentFrom(Ipv4 address) const;

private:
    static std::uint64_t key(Endpoint at) { return (std::uint64_t{at.address} << 16) | at.port; }

    std::deque<std::function<void()>> queue_;
    std::map<std::uint64_t, MemoryListener*> listeners_;
    std::vector<std::shared_ptr<StreamEnd>> ends_;
};

class MemorySocketFactory final : public SocketFactory {
public:
    MemorySocketFactory(MemoryNetwork& network, Ipv4 address) : network_(network), address_(address) {}
    std::unique_ptr<DatagramSocket> createDatagramSocket() override { return nullptr; }
    std::unique_ptr<StreamSocket> createStreamSocket() override
    {
        return std::make_unique<MemoryStreamSocket>(network_, address_);
    }
    std::unique_ptr<StreamListener> createStreamListener() override
    {
        return std::make_unique<MemoryListener>(network_, address_);
    }

private:
    MemoryNetwork& network_;
    Ipv4 address_;
};

} // namespace vandry::testing
