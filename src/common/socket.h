#pragma once
// The transports the core talks through. Qt sockets implement them in the product;
// tests use in-memory fakes. All callbacks arrive on the thread that owns the socket.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/bytes.h"
#include "common/ipv4.h"

namespace vandry {

class DatagramSocket {
public:
    using ReceiveHandler = std::function<void(ByteSpan datagram, Endpoint source)>;
    virtual ~DatagramSocket() = default;
    // Binds to `port` on all interfaces; 0 asks for any free port.
    virtual bool bind(std::uint16_t port) = 0;
    virtual std::uint16_t localPort() const = 0;
    virtual bool sendTo(ByteSpan datagram, Endpoint destination) = 0;
    // Sends with the IP hop limit (TTL) `hops` for this datagram only: a datagram of hop limit 1
    // goes no further than the first router. False when the limit cannot be set or the send fails.
    virtual bool sendToWithHopLimit(ByteSpan datagram, Endpoint destination, int hops)
    {
        (void)datagram, (void)destination, (void)hops;
        return false;
    }
    virtual void setReceiveBufferSize(int bytes) = 0;
    virtual void setMulticastTtl(int ttl) = 0;
    virtual bool joinMulticastGroup(Ipv4 group) = 0;
    virtual void setReceiveHandler(ReceiveHandler handler) = 0;
};

// One connected byte stream (TCP in the product). Reads and writes never block.
class StreamSocket {
public:
    struct Handlers {
        std::function<void()> connected;
        std::function<void()> readable;
        std::function<void()> writable; // the socket's send buffer drained
        std::function<void()> closed;   // peer closed or the connection failed
    };
    virtual ~StreamSocket() = default;
    virtual void setHandlers(Handlers handlers) = 0;
    virtual void connectTo(Endpoint destination) = 0;
    // Returns the bytes taken (maybe fewer than offered), or -1 on a broken connection.
    virtual std::int64_t write(ByteSpan bytes) = 0;
    // Returns the bytes read into `into` (0 when nothing is waiting), or -1 on a broken connection.
    virtual std::int64_t read(MutableByteSpan into) = 0;
    virtual std::int64_t bytesAvailable() const = 0;
    virtual Endpoint peer() const = 0;
    virtual void close() = 0;
};

class StreamListener {
public:
    using AcceptHandler = std::function<void(std::unique_ptr<StreamSocket>)>;
    virtual ~StreamListener() = default;
    // Listens on `port` on all interfaces; 0 asks for any free port.
    virtual bool listen(std::uint16_t port) = 0;
    virtual std::uint16_t localPort() const = 0;
    virtual void setAcceptHandler(AcceptHandler handler) = 0;
};

// Creates transports bound to the calling thread's event loop.
class SocketFactory {
public:
    virtual ~SocketFactory() = default;
    virtual std::unique_ptr<DatagramSocket> createDatagramSocket() = 0;
    virtual std::unique_ptr<StreamSocket> createStreamSocket() = 0;
    virtual std::unique_ptr<StreamListener> createStreamListener() = 0;
};

} // namespace vandry
