#include "memory_stream_network.h"

#include <algorithm>

namespace vandry::testing {

namespace {
// Handlers may destroy the socket they belong to, so a copy is called.
void fire(const std::shared_ptr<StreamEnd>& end, std::function<void()> StreamSocket::Handlers::*handler)
{
    const auto call = end->handlers.*handler;
    if (call)
        call();
}
} // namespace

MemoryStreamSocket::MemoryStreamSocket(MemoryNetwork& network, Ipv4 address)
    : network_(network), end_(std::make_shared<StreamEnd>())
{
    end_->address = address;
    network_.track(end_);
}

MemoryStreamSocket::~MemoryStreamSocket()
{
    close();
    end_->handlers = {};
}

void MemoryStreamSocket::connectTo(Endpoint destination)
{
    end_->remote = destination;
    network_.post([&network = network_, end = end_, destination] {
        if (!end->open)
            return;
        MemoryListener* listener = network.listenerAt(destination);
        if (!listener) {
            end->open = false;
            fire(end, &StreamSocket::Handlers::closed);
            return;
        }
        auto accepted = std::make_unique<MemoryStreamSocket>(network, destination.address);
        accepted->end()->remote = {end->address, network.freePort(end->address)};
        accepted->end()->other = end;
        end->other = accepted->end();
        listener->deliver(std::move(accepted));
        fire(end, &StreamSocket::Handlers::connected);
    });
}

std::int64_t MemoryStreamSocket::write(ByteSpan bytes)
{
    const auto other = end_->other.lock();
    if (!end_->open || !other)
        return -1;
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    if (network_.onWrite)
        network_.onWrite(end_->address, data);
    end_->sent.insert(end_->sent.end(), data.begin(), data.end());
    network_.post([other, data = std::move(data)] {
        if (!other->open)
            return;
        other->inbox.insert(other->inbox.end(), data.begin(), data.end());
        fire(other, &StreamSocket::Handlers::readable);
    });
    return static_cast<std::int64_t>(bytes.size());
}

std::int64_t MemoryStreamSocket::read(MutableByteSpan into)
{
    const std::size_t count = std::min(into.size(), end_->inbox.size());
    std::copy_n(end_->inbox.begin(), count, into.begin());
    end_->inbox.erase(end_->inbox.begin(), end_->inbox.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<std::int64_t>(count);
}

void MemoryStreamSocket::close()
{
    if (!end_->open)
        return;
    end_->open = false;
    network_.post([other = end_->other.lock()] {
        if (other && other->open) {
            other->open = false;
            fire(other, &StreamSocket::Handlers::closed);
        }
    });
}

MemoryListener::~MemoryListener()
{
    if (port_ != 0)
        network_.unbind({address_, port_});
}

bool MemoryListener::listen(std::uint16_t port)
{
    const std::uint16_t chosen = port != 0 ? port : network_.freePort(address_);
    if (!network_.bind({address_, chosen}, *this))
        return false;
    port_ = chosen;
    return true;
}

void MemoryListener::deliver(std::unique_ptr<StreamSocket> connection)
{
    if (handler_)
        handler_(std::move(connection));
}

bool MemoryNetwork::pump(const std::function<bool()>& done, std::size_t limit)
{
    for (std::size_t ran = 0; ran < limit; ++ran) {
        if (done && done())
            return true;
        if (queue_.empty())
            return !done;
        auto work = std::move(queue_.front());
        queue_.pop_front();
        if (beforeDelivery)
            beforeDelivery();
        work();
    }
    return false;
}

bool MemoryNetwork::bind(Endpoint at, MemoryListener& listener)
{
    return listeners_.emplace(key(at), &listener).second;
}

void MemoryNetwork::unbind(Endpoint at)
{
    listeners_.erase(key(at));
}

MemoryListener* MemoryNetwork::listenerAt(Endpoint at) const
{
    const auto found = listeners_.find(key(at));
    return found == listeners_.end() ? nullptr : found->second;
}

std::uint16_t MemoryNetwork::freePort(Ipv4 address) const
{
    std::uint16_t port = 40000;
    while (listenerAt({address, port}))
        ++port;
    return port;
}

std::vector<std::vector<std::uint8_t>> MemoryNetwork::sentFrom(Ipv4 address) const
{
    std::vector<std::vector<std::uint8_t>> sent;
    for (const auto& end : ends_)
        if (end->address == address)
            sent.push_back(end->sent);
    return sent;
}

} // namespace vandry::testing
