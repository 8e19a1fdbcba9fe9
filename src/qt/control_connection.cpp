#include "qt/control_connection.h"

namespace vandry {

ControlConnection::ControlConnection(QLocalSocket* socket, RequestHandler handler, QObject* parent)
    : QObject(parent), socket_(socket), handler_(std::move(handler))
{
    socket_->setParent(this);
    connect(socket_, &QLocalSocket::readyRead, this, &ControlConnection::onReadyRead);
    connect(socket_, &QLocalSocket::disconnected, this, &QObject::deleteLater);
}

void ControlConnection::onReadyRead()
{
    pending_ += socket_->readAll();
    const QByteArray activation(kActivationPayload, sizeof kActivationPayload);
    if (pending_.startsWith(activation)) {
        emit activationRequested();
        socket_->disconnectFromServer();
        return;
    }
    if (activation.startsWith(pending_))
        return; // the start of an activation: wait for the rest
    for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
        const QByteArray line = pending_.left(end);
        pending_.remove(0, end + 1);
        QByteArray answer = handler_(line);
        socket_->write(answer.append('\n'));
        socket_->flush();
    }
    if (pending_.size() > kMaxControlLine)
        socket_->disconnectFromServer();
}

} // namespace vandry
