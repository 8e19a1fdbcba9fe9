#pragma once
// A vandry process started for a test, with its output collected as it runs.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>

namespace vandry::testing {

class CopyProcess {
public:
    explicit CopyProcess(QStringList arguments);
    ~CopyProcess();

    // Waits until the output holds `text`; the timeout only bounds a broken run.
    bool waitForOutput(const QString& text, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Sends SIGTERM and waits for the exit; returns the exit code, or -1 on a crash or hang.
    int terminate();
    QString output();
    // Waits for the process to end by itself; false when it is still running after the timeout.
    bool waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    QProcess process_;
    QString output_;
};

// Runs a program to its end and returns the exit code (-1 when it crashed or hung).
int runProgram(const QString& program, const QStringList& arguments, QString* output = nullptr);
// The same for vandry.
int runToEnd(const QStringList& arguments, QString* output = nullptr);

// A temporary home with a share and a download folder.
struct TestHome {
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    QStringList options(const QString& home, const QString& nick) const;
};

} // namespace vandry::testing
