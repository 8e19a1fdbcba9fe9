#include "qt/control_connection.h"

#include <QPointer>

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
    answerPendingLines();
    if (pending_.size() > kMaxControlLine)
        socket_->disconnectFromServer();
}

void ControlConnection::answerPendingLines()
{
    while (!answering_) {
        const qsizetype end = pending_.indexOf('\n');
        if (end < 0)
            return;
        const QByteArray line = pending_.left(end);
        pending_.remove(0, end + 1);
        answering_ = true;
        // The answer may come after this connection closed; it is then dropped.
        QPointer<ControlConnection> self(this);
        handler_(line, [self](const QByteArray& answer) {
            if (!self)
                return;
            self->socket_->write(answer + '\n');
            self->socket_->flush();
            self->answering_ = false;
            QMetaObject::invokeMethod(self, &ControlConnection::answerPendingLines, Qt::QueuedConnection);
        });
    }
}

} // namespace vandry
