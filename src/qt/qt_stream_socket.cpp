#include "qt/qt_stream_socket.h"

#include <QPointer>

#include <algorithm>

namespace vandry {

namespace {
void call(const std::function<void()>& handler)
{
    if (handler)
        handler();
}
} // namespace

QtStreamSocket::QtStreamSocket() : socket_(new QTcpSocket)
{
    watchSocket();
}

QtStreamSocket::QtStreamSocket(QTcpSocket* accepted) : socket_(accepted)
{
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    watchSocket();
}

QtStreamSocket::~QtStreamSocket()
{
    socket_->disconnect(&context_);
    socket_->abort();
}

void QtStreamSocket::watchSocket()
{
    QTcpSocket* s = socket_.get();
    s->setReadBufferSize(kMaxBufferedReadBytes);
    QObject::connect(s, &QTcpSocket::connected, &context_, [this] { onConnected(); });
    QObject::connect(s, &QTcpSocket::readyRead, &context_, [this] { call(handlers_.readable); });
    QObject::connect(s, &QTcpSocket::bytesWritten, &context_, [this] { onBytesWritten(); });
    QObject::connect(s, &QTcpSocket::disconnected, &context_, [this] { reportClosed(); });
    // Queued: a refused connect can be signalled from inside connectToHost(), and the owner must not
    // see `closed` (and perhaps destroy this socket) before connectTo() has returned.
    QObject::connect(
        s, &QTcpSocket::errorOccurred, &context_, [this] { reportClosed(); }, Qt::QueuedConnection);
}

void QtStreamSocket::setHandlers(Handlers handlers)
{
    handlers_ = std::move(handlers);
}

void QtStreamSocket::connectTo(Endpoint destination)
{
    socket_->connectToHost(QHostAddress(destination.address), destination.port);
}

std::int64_t QtStreamSocket::write(ByteSpan bytes)
{
    if (!isOpen())
        return -1;
    const qint64 room = std::max<qint64>(0, kMaxQueuedBytes - socket_->bytesToWrite());
    const qint64 size = static_cast<qint64>(bytes.size());
    const qint64 taken =
        room > 0 ? socket_->write(reinterpret_cast<const char*>(bytes.data()), std::min(size, room)) : 0;
    if (taken < size)
        writeBlocked_ = true;
    return taken;
}

std::int64_t QtStreamSocket::read(MutableByteSpan into)
{
    // Bytes that arrived before the peer closed stay readable.
    if (!into.empty() && socket_->bytesAvailable() > 0)
        return socket_->read(reinterpret_cast<char*>(into.data()), static_cast<qint64>(into.size()));
    return isOpen() ? 0 : -1;
}

std::int64_t QtStreamSocket::bytesAvailable() const
{
    return socket_->bytesAvailable();
}

Endpoint QtStreamSocket::peer() const
{
    bool isIpv4 = false;
    const Ipv4 address = socket_->peerAddress().toIPv4Address(&isIpv4);
    return isIpv4 ? Endpoint{address, socket_->peerPort()} : Endpoint{};
}

void QtStreamSocket::close()
{
    closeReported_ = true;
    socket_->disconnectFromHost();
}

void QtStreamSocket::onConnected()
{
    // Set here because Qt ignores socket options until the connection exists.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    call(handlers_.connected);
}

void QtStreamSocket::onBytesWritten()
{
    // Half the bound, so that the writer refills in large steps rather than after every segment.
    if (writeBlocked_ && socket_->bytesToWrite() <= kMaxQueuedBytes / 2) {
        writeBlocked_ = false;
        call(handlers_.writable);
    }
}

void QtStreamSocket::reportClosed()
{
    if (closeReported_)
        return;
    closeReported_ = true;
    call(handlers_.closed);
}

bool QtStreamSocket::isOpen() const
{
    const auto state = socket_->state();
    return state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState ||
           state == QAbstractSocket::ConnectedState;
}

QtStreamListener::QtStreamListener()
{
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { acceptPending(); });
}

bool QtStreamListener::listen(std::uint16_t port)
{
    return server_.listen(QHostAddress::AnyIPv4, port);
}

std::uint16_t QtStreamListener::localPort() const
{
    return server_.serverPort();
}

void QtStreamListener::setAcceptHandler(AcceptHandler handler)
{
    handler_ = std::move(handler);
}

void QtStreamListener::acceptPending()
{
    const QPointer<QTcpServer> alive(&server_);
    while (alive && server_.hasPendingConnections()) {
        QTcpSocket* accepted = server_.nextPendingConnection();
        accepted->setParent(nullptr);
        auto socket = std::make_unique<QtStreamSocket>(accepted);
        if (handler_)
            handler_(std::move(socket));
    }
}

} // namespace vandry
