#include "qt/home_paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <unistd.h>

#include "common/version.h"

namespace vandry {

namespace {
QString runtimeDir()
{
    // XDG_RUNTIME_DIR is private to the user; without it, a folder of our own that only we may enter.
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QFileInfo(xdg).isDir())
        return xdg;
    QString dir = QDir::tempPath() + QStringLiteral("/vandry-%1").arg(::getuid());
    QDir().mkpath(dir);
    // Someone else may have made that folder first; then keep the socket in our own cache.
    if (QFileInfo(dir).ownerId() != ::getuid()) {
        dir = QDir::homePath() + QStringLiteral("/.cache/vandry");
        QDir().mkpath(dir);
    }
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return dir;
}

QString guardBaseName(const QString& key)
{
    const auto digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Md5).toHex().left(16);
    return QString::fromUtf8(instanceGuardName()) + QStringLiteral("-%1-").arg(::getuid()) +
           QString::fromLatin1(digest);
}
} // namespace

HomePaths HomePaths::forHome(const QString& dir)
{
    QDir().mkpath(dir);
    const QString home = QFileInfo(dir).canonicalFilePath();
    return {home + QStringLiteral("/settings.ini"), home + QStringLiteral("/state"), home};
}

HomePaths HomePaths::standard()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return {QString(), state + QStringLiteral("/vandry"), QStringLiteral("default")};
}

std::unique_ptr<QSettings> HomePaths::openSettings() const
{
    if (settingsFile.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("Quillomax Co"), QStringLiteral("vandry"));
    return std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
}

QString HomePaths::controlSocketPath() const
{
    return runtimeDir() + QLatin1Char('/') + guardBaseName(instanceKey) + QStringLiteral(".sock");
}

QString HomePaths::instanceLockPath() const
{
    return runtimeDir() + QLatin1Char('/') + guardBaseName(instanceKey) + QStringLiteral(".lock");
}

bool HomePaths::ensureStateDir() const
{
    return QDir().mkpath(stateDir);
}

} // namespace vandry
