#pragma once
// TCP connections over QTcpSocket and QTcpServer, IPv4 only.

#include <QObject>
#include <QScopedPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

#include "common/socket.h"

namespace vandry {

// Handlers may destroy the socket. `closed` is reported once, later than the call that caused it,
// for a peer close, a failed connect or a broken connection; never for close() called here.
class QtStreamSocket final : public StreamSocket {
public:
    // QTcpSocket queues every byte it is given; write() takes no more than keeps this many queued, so a
    // fast writer meets short writes and waits for `writable` instead of holding a whole file in memory.
    static constexpr qint64 kMaxQueuedBytes = 256 * 1024;
    // Nor does it read more than this ahead of the owner: a peer that sends while the owner does not
    // read is held back by TCP's flow control instead of filling memory.
    static constexpr qint64 kMaxBufferedReadBytes = 256 * 1024;

    QtStreamSocket();
    // Adopts a connection accepted by a QTcpServer and takes ownership of it.
    explicit QtStreamSocket(QTcpSocket* accepted);
    // Drops bytes not yet sent: call close() first to let them go out.
    ~QtStreamSocket() override;

    void setHandlers(Handlers handlers) override;
    void connectTo(Endpoint destination) override;
    std::int64_t write(ByteSpan bytes) override;
    std::int64_t read(MutableByteSpan into) override;
    std::int64_t bytesAvailable() const override;
    Endpoint peer() const override;
    // Sends what is queued, then closes.
    void close() override;

private:
    void watchSocket();
    void onConnected();
    void onBytesWritten();
    void reportClosed();
    bool isOpen() const;

    // Deleted later: handlers may destroy this object from inside the socket's own signals.
    std::unique_ptr<QTcpSocket, QScopedPointerDeleteLater> socket_;
    QObject context_; // receiver of the socket's signals; its queued calls die with this object
    Handlers handlers_;
    bool writeBlocked_ = false; // a write came up short: report `writable` once the queue drains
    bool closeReported_ = false;
};

class QtStreamListener final : public StreamListener {
public:
    QtStreamListener();

    bool listen(std::uint16_t port) override;
    std::uint16_t localPort() const override;
    // Connections arriving while no handler is set are closed.
    void setAcceptHandler(AcceptHandler handler) override;

private:
    void acceptPending();

    QTcpServer server_;
    AcceptHandler handler_;
};

} // namespace vandry
