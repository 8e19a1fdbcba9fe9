#pragma once
// The two halves of the upgrade hand-over. The running copy starts the verified release as
//   RELEASE [its own options] --older-process PID -u OLD_EXECUTABLE
// and quits. The release, started so, waits for the older process (ending it on the sixth
// tick), replaces OLD_EXECUTABLE with itself atomically, starts it with the same options and
// exits. When the replacement fails, the old executable is started again as it was.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

#include "update/older_process_wait.h"

namespace vandry {

// Starts `release` as the new copy; on failure `error` says why.
bool startHandOver(const QString& release, const QStringList& relaunchArguments, QString& error);

class HandOverRun final : public QObject {
    Q_OBJECT
public:
    HandOverRun(QString target, std::optional<qint64> olderProcess, QStringList relaunchArguments,
                QObject* parent = nullptr);
    ~HandOverRun() override;

    void start();

signals:
    // 0 once the new executable is in place and started; 1 when it could not be replaced (the
    // old one is started again) or did not start.
    void finished(int exitCode);

private:
    void tick();
    int replaceAndLaunch();

    QString target_;
    QStringList relaunchArguments_;
    std::unique_ptr<OlderProcess> older_;
    OlderProcessWait wait_;
    QTimer timer_;
};

// Runs a hand-over in the application's event loop; returns the exit code.
int runHandOver(const QString& target, std::optional<qint64> olderProcess, const QStringList& relaunchArguments);

} // namespace vandry
