#pragma once
// The UDP endpoint over QUdpSocket, IPv4 only.

#include <QObject>
#include <QScopedPointer>
#include <QUdpSocket>

#include <atomic>
#include <memory>
#include <optional>

#include "common/socket.h"

namespace vandry {

// bind() does not share the port: when another socket holds it, bind() fails so that the caller falls
// back to a free port rather than silently splitting the port's traffic with the other socket.
// The receive handler may destroy this socket; nothing is delivered after that.
class QtDatagramSocket final : public DatagramSocket {
public:
    // `bindAddress` 0 binds every IPv4 interface.
    explicit QtDatagramSocket(Ipv4 bindAddress = 0);
    ~QtDatagramSocket() override;

    bool bind(std::uint16_t port) override;
    std::uint16_t localPort() const override;
    // Fails on an unbound socket: Qt would otherwise bind it on the fly to a port nobody chose.
    // Safe from any thread while the socket lives: it writes to the native descriptor directly,
    // since a QUdpSocket may only be used from its own thread.
    bool sendTo(ByteSpan datagram, Endpoint destination) override;
    // The hop limit travels with the datagram (an IP_TTL control message), so that sends from
    // other threads keep the socket's own.
    bool sendToWithHopLimit(ByteSpan datagram, Endpoint destination, int hops) override;
    // Options set before bind() are applied when it binds, since they live on the bound socket.
    void setReceiveBufferSize(int bytes) override;
    void setMulticastTtl(int ttl) override;
    // False on an unbound socket or when the host refuses the membership.
    bool joinMulticastGroup(Ipv4 group) override;
    void setReceiveHandler(ReceiveHandler handler) override;

private:
    bool sendNative(ByteSpan datagram, Endpoint destination, std::optional<int> hops);
    void applyOption(QAbstractSocket::SocketOption option, std::optional<int> value);
    void deliverPending();

    // Deleted later: the handler may destroy this object from inside the socket's own readyRead.
    std::unique_ptr<QUdpSocket, QScopedPointerDeleteLater> socket_;
    QObject context_; // receiver of the socket's signals; gone with this object
    ReceiveHandler handler_;
    std::optional<int> receiveBufferSize_;
    std::optional<int> multicastTtl_;
    std::atomic<qintptr> descriptor_{-1}; // the bound socket's, for sendTo from other threads
    Ipv4 bindAddress_ = 0;
};

} // namespace vandry
