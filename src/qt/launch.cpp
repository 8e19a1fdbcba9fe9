#include "qt/launch.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <limits>

#include "app/file_system.h"
#include "common/version.h"
#include "portmap/mapping_methods.h"
#include "qt/qt_profile_store.h"

namespace vandry {

namespace {
Q_LOGGING_CATEGORY(lcStartup, "vandry.startup", QtInfoMsg)

// The upload limit is kept in bytes per second in an int.
constexpr int kMaxUploadLimitKib = std::numeric_limits<int>::max() / 1024;

std::optional<QString> optionValue(const QCommandLineParser& parser, const QString& name)
{
    if (!parser.isSet(name))
        return std::nullopt;
    return parser.value(name);
}

// "-u", "-r" and "-auto" are the hand-over reader's, not options of ours: they and everything
// after them go to the reader untouched.
bool startsHandOverArguments(const QString& argument)
{
    return argument.compare(QLatin1String("-u"), Qt::CaseInsensitive) == 0 ||
           argument.compare(QLatin1String("-r"), Qt::CaseInsensitive) == 0 || argument == QLatin1String("-auto");
}

QString absoluteRoot(const QString& path)
{
    return QString::fromStdString(withTrailingSeparator(QFileInfo(path).absoluteFilePath().toStdString()));
}
} // namespace

LaunchOptions parseLaunchOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vandry: share a folder with the copies on your network."));
    parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    parser.addOption(version);
    parser.addOption({QStringLiteral("headless"), QStringLiteral("Run without a window.")});
    parser.addOption(
        {QStringLiteral("home"), QStringLiteral("Keep settings and state under DIR."), QStringLiteral("DIR")});
    parser.addOption(
        {QStringLiteral("nick"), QStringLiteral("Set the nickname shown to neighbours."), QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("share"), QStringLiteral("Set the shared folder."), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("download"), QStringLiteral("Set the download folder."), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("upload-limit"),
                      QStringLiteral("Upload at most KIB KiB per second (this run only)."), QStringLiteral("KIB")});
    parser.addOption({QStringLiteral("port-mapping"),
                      QStringLiteral("Ask the home router to forward our ports by WAY: auto (UPnP, then NAT-PMP), "
                                     "upnp, natpmp or off."),
                      QStringLiteral("WAY")});
    parser.addOption({QStringLiteral("feed"), QStringLiteral("Ask this update feed for the rendezvous servers."),
                      QStringLiteral("URL")});
    parser.addOption({QStringLiteral("fallback-feed"), QStringLiteral("The feed asked when the first names no server."),
                      QStringLiteral("URL")});
    parser.addOption({QStringLiteral("touch-host"), QStringLiteral("The host asked when no server turns up."),
                      QStringLiteral("HOST")});
    parser.addOption({QStringLiteral("older-process"),
                      QStringLiteral("Upgrade hand-over: the process of the copy being replaced."),
                      QStringLiteral("PID")});
    parser.addPositionalArgument(QStringLiteral("args"), QStringLiteral("Upgrade hand-over arguments."),
                                 QStringLiteral("[-u PATH | -r | -auto]"));
    QStringList ours;
    QStringList handOver;
    for (const QString& argument : arguments) {
        if (!ours.isEmpty() && (!handOver.isEmpty() || startsHandOverArguments(argument)))
            handOver << argument;
        else
            ours << argument;
    }
    parser.process(ours);
    if (parser.isSet(version)) {
        std::printf("%s\n", std::string(kVersionText).c_str());
        std::exit(0);
    }
    LaunchOptions options;
    options.headless = parser.isSet(QStringLiteral("headless"));
    options.home = optionValue(parser, QStringLiteral("home"));
    options.nickname = optionValue(parser, QStringLiteral("nick"));
    options.shareRoot = optionValue(parser, QStringLiteral("share"));
    options.downloadRoot = optionValue(parser, QStringLiteral("download"));
    options.positional = parser.positionalArguments() + handOver;
    if (const auto kib = optionValue(parser, QStringLiteral("upload-limit"))) {
        options.uploadLimit = parseUploadLimit(*kib);
        if (!options.uploadLimit) {
            std::fprintf(stderr, "vandry: --upload-limit takes a whole number of KiB per second, 1 to %d\n",
                         kMaxUploadLimitKib);
            std::exit(1);
        }
    }
    options.portMapping = optionValue(parser, QStringLiteral("port-mapping"));
    if (options.portMapping && !parseMappingMethods(options.portMapping->toStdString())) {
        std::fprintf(stderr, "vandry: --port-mapping takes auto, upnp, natpmp or off\n");
        std::exit(1);
    }
    const auto text = [&](const char* name) -> std::optional<std::string> {
        if (auto value = optionValue(parser, QString::fromLatin1(name)))
            return value->toStdString();
        return std::nullopt;
    };
    options.feed = {text("feed"), text("fallback-feed"), text("touch-host")};
    if (const auto pid = optionValue(parser, QStringLiteral("older-process"))) {
        bool ok = false;
        const qint64 value = pid->toLongLong(&ok);
        if (ok && value > 0)
            options.olderProcess = value;
    }
    return options;
}

QStringList relaunchArguments(const LaunchOptions& options)
{
    QStringList arguments;
    if (options.headless)
        arguments << QStringLiteral("--headless");
    const auto add = [&arguments](const char* name, const std::optional<QString>& value) {
        if (value)
            arguments << QString::fromLatin1(name) << *value;
    };
    const auto text = [](const std::optional<std::string>& value) -> std::optional<QString> {
        return value ? std::optional(QString::fromStdString(*value)) : std::nullopt;
    };
    if (options.home)
        add("--home", QFileInfo(*options.home).absoluteFilePath());
    add("--feed", text(options.feed.feedUrl));
    add("--fallback-feed", text(options.feed.fallbackFeedUrl));
    add("--touch-host", text(options.feed.touchHost));
    if (options.uploadLimit)
        add("--upload-limit", QString::number(*options.uploadLimit / 1024));
    add("--port-mapping", options.portMapping);
    return arguments;
}

std::optional<int> parseUploadLimit(const QString& kib)
{
    bool ok = false;
    const int value = kib.toInt(&ok);
    if (!ok || value < 1 || value > kMaxUploadLimitKib)
        return std::nullopt;
    return value * 1024;
}

HomePaths homePathsFor(const LaunchOptions& options)
{
    return options.home ? HomePaths::forHome(*options.home) : HomePaths::standard();
}

void applyProfileOptions(const LaunchOptions& options, const HomePaths& home)
{
    QtProfileStore store(home.openSettings());
    Profile profile(store);
    if (options.nickname)
        profile.setNickname(options.nickname->toStdString());
    if (options.shareRoot)
        profile.setShareRoot(absoluteRoot(*options.shareRoot).toStdString());
    if (options.downloadRoot)
        profile.setDownloadRoot(absoluteRoot(*options.downloadRoot).toStdString());
}

void applyRunOptions(const LaunchOptions& options, AppSettings& settings)
{
    if (options.uploadLimit)
        settings.uploadLimit = *options.uploadLimit;
    if (options.portMapping)
        settings.portMapping = options.portMapping->toStdString();
}

namespace {
// Exit code when the start-up reader ends this start.
std::optional<int> readStartCommandLine(const LaunchOptions& options, const HandOverRunner& runHandOver)
{
    std::vector<std::string> arguments;
    for (const QString& argument : options.positional)
        arguments.push_back(argument.toStdString());
    const std::string line = joinCommandLine(QCoreApplication::applicationFilePath().toStdString(), arguments);
    qCDebug(lcStartup, "command line: %s", line.c_str());
    const StartDecision decision = readCommandLine(line);
    switch (decision.kind) {
    case StartKind::Ordinary:
        return std::nullopt;
    case StartKind::HandOver:
        // The hand-over overwrites its target: only the explicit "-u" form a copy uses does that,
        // never a path typed as the only argument.
        if (options.positional.value(0).compare(QLatin1String("-u"), Qt::CaseInsensitive) != 0) {
            qWarning("vandry: %s is not an option; an upgrade hand-over takes -u TARGET", decision.targetPath.c_str());
            return 2;
        }
        return runHandOver(
            {QString::fromStdString(decision.targetPath), options.olderProcess, relaunchArguments(options)});
    case StartKind::Exit:
        if (decision.openTargetAfterDelay) {
            QThread::sleep(3);
            if (!decision.targetPath.empty())
                QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(decision.targetPath)});
        }
        return 0;
    }
    return 1;
}
} // namespace

std::optional<int> prepareLaunch(const LaunchOptions& options, const HomePaths& home, InstanceGuard& guard,
                                 const HandOverRunner& runHandOver)
{
    if (const auto exitCode = readStartCommandLine(options, runHandOver))
        return exitCode;
    switch (guard.acquire()) {
    case InstanceGuard::Outcome::Acquired:
        break;
    case InstanceGuard::Outcome::OtherCopyRunning:
        qInfo("another copy runs for this home; asked it to show itself");
        return 0;
    case InstanceGuard::Outcome::Failed:
        qCritical("vandry: %s", qPrintable(guard.errorText()));
        return 1;
    }
    applyProfileOptions(options, home);
    return std::nullopt;
}

QStringList statusLines(const CopyStatus& s)
{
    const auto q = [](const std::string& text) { return QString::fromStdString(text); };
    return {
        QStringLiteral("identity: ") + q(s.identity),
        QStringLiteral("nickname: ") + q(s.nickname),
        QStringLiteral("primary LAN address: ") + q(ipv4ToText(s.primaryLan)),
        QStringLiteral("secondary LAN address: ") + q(ipv4ToText(s.secondaryLan)),
        QStringLiteral("UDP port: %1").arg(s.udpPort),
        QStringLiteral("TCP port: %1").arg(s.tcpPort),
        QStringLiteral("share folder: ") + q(s.shareRoot),
        QStringLiteral("download folder: ") + q(s.downloadRoot),
        QStringLiteral("logging: ") + (s.logging ? QStringLiteral("on") : QStringLiteral("off")),
    };
}

} // namespace vandry
