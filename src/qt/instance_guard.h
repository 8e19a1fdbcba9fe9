#pragma once
// Keeps one running copy per home. The first start holds a lock file and listens on a local
// socket; a second start finds the lock held, sends the four-byte activation payload "NOP\0"
// to that socket and exits. A lock left by a crashed copy is stale and taken over. The same
// socket, reachable only by this user, carries vandryctl's requests.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>

#include "qt/control_connection.h"

#include "qt/home_paths.h"

namespace vandry {

class InstanceGuard : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Acquired,         // this is the running copy now
        OtherCopyRunning, // another copy holds the home; it was asked to show itself
        Failed,           // the lock or the socket could not be set up
    };

    explicit InstanceGuard(const HomePaths& home, QObject* parent = nullptr);
    ~InstanceGuard() override;

    Outcome acquire();
    QString errorText() const { return error_; }
    // Answers the JSON request lines of vandryctl.
    void setRequestHandler(ControlConnection::RequestHandler handler) { requestHandler_ = std::move(handler); }

signals:
    void activationRequested();

private:
    void onNewConnection();
    bool tellRunningCopy() const;

    HomePaths home_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
    QString error_;
    ControlConnection::RequestHandler requestHandler_;
};

} // namespace vandry
