#include "qt/hand_over.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include "qt/linux_older_process.h"
#include "update/executable_replacement.h"

namespace vandry {

bool startHandOver(const QString& release, const QStringList& relaunchArguments, QString& error)
{
    QProcess process;
    process.setProgram(release);
    process.setArguments(relaunchArguments + QStringList{QStringLiteral("--older-process"),
                                                         QString::number(QCoreApplication::applicationPid()),
                                                         QStringLiteral("-u"),
                                                         QCoreApplication::applicationFilePath()});
    if (process.startDetached())
        return true;
    error = process.errorString();
    return false;
}

HandOverRun::HandOverRun(QString target, std::optional<qint64> olderProcess, QStringList relaunchArguments,
                         QObject* parent)
    : QObject(parent), target_(std::move(target)), relaunchArguments_(std::move(relaunchArguments)),
      older_(olderProcess ? LinuxOlderProcess::open(*olderProcess, target_) : nullptr), wait_(older_.get())
{
    timer_.setInterval(kHandOverTickPeriod);
    connect(&timer_, &QTimer::timeout, this, &HandOverRun::tick);
}

HandOverRun::~HandOverRun() = default;

void HandOverRun::start()
{
    qInfo("upgrading %s: waiting for the older copy to end", qPrintable(target_));
    timer_.start();
}

void HandOverRun::tick()
{
    if (!wait_.tick())
        return;
    timer_.stop();
    if (wait_.terminated())
        qInfo("the older copy did not end by itself; it was ended");
    emit finished(replaceAndLaunch());
}

int HandOverRun::replaceAndLaunch()
{
    const ReplaceResult result =
        replaceExecutable(QCoreApplication::applicationFilePath().toStdString(), target_.toStdString());
    if (result.ok) {
        qInfo("upgraded %s; starting it", qPrintable(target_));
    } else if (!QFileInfo(target_).isExecutable()) {
        qWarning("upgrade failed: %s", result.error.c_str());
        return 1;
    } else {
        // The older copy has gone: the user gets it back as it was rather than none at all.
        qWarning("upgrade failed, %s is as it was: %s; starting it again", qPrintable(target_), result.error.c_str());
    }
    if (!QProcess::startDetached(target_, relaunchArguments_)) {
        qWarning("%s did not start", qPrintable(target_));
        return 1;
    }
    return result.ok ? 0 : 1;
}

int runHandOver(const QString& target, std::optional<qint64> olderProcess, const QStringList& relaunchArguments)
{
    HandOverRun run(target, olderProcess, relaunchArguments);
    QObject::connect(&run, &HandOverRun::finished, QCoreApplication::instance(), &QCoreApplication::exit,
                     Qt::QueuedConnection);
    run.start();
    return QCoreApplication::exec();
}

} // namespace vandry
