#include "qt/qt_datagram_socket.h"

#include <QNetworkDatagram>
#include <QPointer>
#include <QVariant>

namespace vandry {

namespace {
constexpr qint64 kMaxDatagram = 65535;
} // namespace

QtDatagramSocket::QtDatagramSocket() : socket_(new QUdpSocket)
{
    QObject::connect(socket_.get(), &QUdpSocket::readyRead, &context_, [this] { deliverPending(); });
}

QtDatagramSocket::~QtDatagramSocket()
{
    // Release the port now rather than when the deferred deletion runs.
    socket_->disconnect(&context_);
    socket_->abort();
}

bool QtDatagramSocket::bind(std::uint16_t port)
{
    if (!socket_->bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress))
        return false;
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
    if (socket_->state() != QAbstractSocket::BoundState)
        return false;
    const auto size = static_cast<qint64>(datagram.size());
    return socket_->writeDatagram(reinterpret_cast<const char*>(datagram.data()), size,
                                  QHostAddress(destination.address), destination.port) == size;
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
