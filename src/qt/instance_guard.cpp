#include "qt/instance_guard.h"

#include <QLocalSocket>

namespace vandry {

InstanceGuard::InstanceGuard(const HomePaths& home, QObject* parent) : QObject(parent), home_(home)
{
    connect(&server_, &QLocalServer::newConnection, this, &InstanceGuard::onNewConnection);
}

InstanceGuard::~InstanceGuard() = default;

InstanceGuard::Outcome InstanceGuard::acquire()
{
    lock_ = std::make_unique<QLockFile>(home_.instanceLockPath());
    if (!lock_->tryLock(0)) {
        if (lock_->error() != QLockFile::LockFailedError) {
            error_ = QStringLiteral("cannot create the instance lock %1").arg(home_.instanceLockPath());
            return Outcome::Failed;
        }
        // A copy that has not opened its socket yet gets no message; this start still ends.
        tellRunningCopy();
        return Outcome::OtherCopyRunning;
    }
    // We hold the lock, so a socket file left behind belongs to a dead copy.
    const QString socketPath = home_.controlSocketPath();
    QLocalServer::removeServer(socketPath);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(socketPath)) {
        error_ = QStringLiteral("cannot listen on %1: %2").arg(socketPath, server_.errorString());
        return Outcome::Failed;
    }
    return Outcome::Acquired;
}

bool InstanceGuard::tellRunningCopy() const
{
    QLocalSocket socket;
    socket.connectToServer(home_.controlSocketPath());
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(kActivationPayload, sizeof kActivationPayload);
    const bool sent = socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return sent;
}

void InstanceGuard::onNewConnection()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        auto* connection = new ControlConnection(
            socket,
            [this](const QByteArray& line, ControlConnection::Reply reply) {
                if (requestHandler_)
                    requestHandler_(line, std::move(reply));
                else
                    reply(QByteArray(R"({"ok":false,"error":"starting"})"));
            },
            this);
        connect(connection, &ControlConnection::activationRequested, this, &InstanceGuard::activationRequested);
    }
}

} // namespace vandry
