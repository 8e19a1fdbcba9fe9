#include "server/bounded_tcp_server.h"

#include <QTcpSocket>

namespace vandry {

BoundedTcpServer::BoundedTcpServer(qint64 maxUnreadBytes, QObject* parent)
    : QTcpServer(parent), maxUnreadBytes_(maxUnreadBytes)
{
}

void BoundedTcpServer::incomingConnection(qintptr socketDescriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    // Connected before the HTTP server sees the socket, so this runs ahead of its parser.
    connect(socket, &QTcpSocket::readyRead, socket, [socket, limit = maxUnreadBytes_] {
        if (socket->bytesAvailable() <= limit)
            return;
        // Nobody else may read what is left; the HTTP server deletes the socket once it is closed.
        QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        socket->abort();
    });
    addPendingConnection(socket);
}

} // namespace vandry
