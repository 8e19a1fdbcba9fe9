#include "copy_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <csignal>

namespace vandry::testing {

CopyProcess::CopyProcess(QStringList arguments)
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral(VANDRY_BINARY), arguments);
    process_.waitForStarted();
}

CopyProcess::~CopyProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool CopyProcess::waitForOutput(const QString& text, std::chrono::milliseconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (!output().contains(text)) {
        if (clock.elapsed() > timeout.count() || process_.state() == QProcess::NotRunning)
            return output().contains(text);
        process_.waitForReadyRead(100);
    }
    return true;
}

int CopyProcess::terminate()
{
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    if (!process_.waitForFinished(20000) || process_.exitStatus() != QProcess::NormalExit)
        return -1;
    output();
    return process_.exitCode();
}

QString CopyProcess::output()
{
    output_ += QString::fromUtf8(process_.readAll());
    return output_;
}

bool CopyProcess::waitForExit(std::chrono::milliseconds timeout)
{
    const bool ended =
        process_.state() == QProcess::NotRunning || process_.waitForFinished(static_cast<int>(timeout.count()));
    output();
    return ended;
}

int runToEnd(const QStringList& arguments, QString* output)
{
    return runProgram(QStringLiteral(VANDRY_BINARY), arguments, output);
}

int runProgram(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QStringList TestHome::options(const QString& home, const QString& nick) const
{
    QDir().mkpath(path(QStringLiteral("share-") + nick));
    QDir().mkpath(path(QStringLiteral("downloads-") + nick));
    // No port mapping: these copies would ask the machine's own router.
    return {QStringLiteral("--headless"),
            QStringLiteral("--port-mapping"),
            QStringLiteral("off"),
            QStringLiteral("--home"),
            path(home),
            QStringLiteral("--nick"),
            nick,
            QStringLiteral("--share"),
            path(QStringLiteral("share-") + nick),
            QStringLiteral("--download"),
            path(QStringLiteral("downloads-") + nick)};
}

} // namespace vandry::testing
