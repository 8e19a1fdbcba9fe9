#include "qt/qt_datagram_socket.h"

#include <QNetworkDatagram>
#include <QPointer>
#include <QVariant>

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace vandry {

namespace {
constexpr qint64 kMaxDatagram = 65535;
} // namespace

QtDatagramSocket::QtDatagramSocket(Ipv4 bindAddress) : socket_(new QUdpSocket), bindAddress_(bindAddress)
{
    QObject::connect(socket_.get(), &QUdpSocket::readyRead, &context_, [this] { deliverPending(); });
}

QtDatagramSocket::~QtDatagramSocket()
{
    descriptor_.store(-1);
    // Release the port now rather than when the deferred deletion runs.
    socket_->disconnect(&context_);
    socket_->abort();
}

bool QtDatagramSocket::bind(std::uint16_t port)
{
    const QHostAddress address = bindAddress_ == 0 ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(bindAddress_);
    if (!socket_->bind(address, port, QAbstractSocket::DontShareAddress))
        return false;
    descriptor_.store(socket_->socketDescriptor());
    applyOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferSize_);
    applyOption(QAbstractSocket::MulticastTtlOption, multicastTtl_);
    return true;
}

std::uint16_t QtDatagramSocket::localPort() const
{
    return socket_->localPort();
}

bool QtDatagramSocket::sendTo(ByteSpan datagram, Endpoint destination)
{
    return sendNative(datagram, destination, std::nullopt);
}

bool QtDatagramSocket::sendToWithHopLimit(ByteSpan datagram, Endpoint destination, int hops)
{
    return hops > 0 && hops < 256 && sendNative(datagram, destination, hops);
}

bool QtDatagramSocket::sendNative(ByteSpan datagram, Endpoint destination, std::optional<int> hops)
{
    const qintptr descriptor = descriptor_.load();
    if (descriptor < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(destination.port);
    to.sin_addr.s_addr = htonl(destination.address);
    iovec data{const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    if (hops) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_TTL;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &*hops, sizeof(int));
    }
    ssize_t sent = -1;
    do {
        sent = ::sendmsg(static_cast<int>(descriptor), &message, 0);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(datagram.size());
}

void QtDatagramSocket::setReceiveBufferSize(int bytes)
{
    receiveBufferSize_ = bytes;
    applyOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferSize_);
}

void QtDatagramSocket::setMulticastTtl(int ttl)
{
    multicastTtl_ = ttl;
    applyOption(QAbstractSocket::MulticastTtlOption, multicastTtl_);
}

bool QtDatagramSocket::joinMulticastGroup(Ipv4 group)
{
    return socket_->state() == QAbstractSocket::BoundState && socket_->joinMulticastGroup(QHostAddress(group));
}

void QtDatagramSocket::setReceiveHandler(ReceiveHandler handler)
{
    handler_ = std::move(handler);
}

void QtDatagramSocket::applyOption(QAbstractSocket::SocketOption option, std::optional<int> value)
{
    if (value && socket_->state() == QAbstractSocket::BoundState)
        socket_->setSocketOption(option, QVariant(*value));
}

void QtDatagramSocket::deliverPending()
{
    const QPointer<QObject> alive(&context_);
    while (alive && socket_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_->receiveDatagram(kMaxDatagram);
        if (!datagram.isValid())
            return;
        bool isIpv4 = false;
        // Also unwraps IPv4-mapped IPv6 addresses.
        const Ipv4 address = datagram.senderAddress().toIPv4Address(&isIpv4);
        if (!isIpv4 || !handler_)
            continue;
        const QByteArray& bytes = datagram.data();
        handler_(ByteSpan(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())),
                 Endpoint{address, static_cast<std::uint16_t>(datagram.senderPort())});
    }
}

} // namespace vandry
