#pragma once
// A TCP listener for QHttpServer that drops a connection once more than `maxUnreadBytes` of it wait
// unread. QHttpServer 6.4 keeps a request in the socket's buffer until the request is complete and
// sets no limit of its own, so without this one endless request would take all memory.

#include <QTcpServer>

namespace vandry {

class BoundedTcpServer final : public QTcpServer {
public:
    explicit BoundedTcpServer(qint64 maxUnreadBytes, QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    qint64 maxUnreadBytes_;
};

} // namespace vandry
