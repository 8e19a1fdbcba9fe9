#include "qt/copy_runtime.h"

#include <QCoreApplication>

#include "common/identity.h"

namespace vandry {

namespace {
// How often, in one-second ticks, the network configuration is polled for a change.
constexpr std::uint32_t kNetworkPollTicks = 12;

std::string yesNo(bool value)
{
    return value ? "on" : "off";
}
} // namespace

CopyRuntime::CopyRuntime(const HomePaths& home, QObject* parent)
    : QObject(parent), home_(home), profileStore_(home.openSettings()), autostart_(XdgAutostart::forCurrentUser()),
      copy_(CopyPlatform{clock_, network_, host_, fileSystem_, profileStore_}),
      settingsForm_(copy_.settings(), copy_.neighbours(), copy_.profile(), fileSystem_, autostart_,
                    QCoreApplication::applicationFilePath().toStdString())
{
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, &CopyRuntime::tick);
}

CopyRuntime::~CopyRuntime() = default;

MissingRoot CopyRuntime::start()
{
    home_.ensureStateDir();
    copy_.refreshLocalRecord();
    copy_.takeNetworkSnapshot();
    return copy_.loadSettings();
}

void CopyRuntime::run()
{
    ticker_.start();
}

void CopyRuntime::stop()
{
    ticker_.stop();
    emit stopped();
}

void CopyRuntime::tick()
{
    ++tickCount_;
    if (tickCount_ % kNetworkPollTicks == 0 && copy_.pollNetworkChange())
        emit announceRequested();
}

std::vector<std::string> CopyRuntime::statusLines() const
{
    const AppSettings& settings = copy_.settings();
    const HostRecord& local = copy_.localRecord();
    return {
        "identity: " + identityText(local.identity),
        "nickname: " + local.nickname(),
        "primary LAN address: " + ipv4ToText(local.lanPrimary),
        "secondary LAN address: " + ipv4ToText(local.lanSecondary),
        "UDP port: " + std::to_string(local.portUdp),
        "TCP port: " + std::to_string(local.portTcp),
        "share folder: " + settings.shareRoot,
        "download folder: " + settings.downloadRoot,
        "logging: " + yesNo(settings.logging),
        "settings file: " +
            (home_.settingsFile.isEmpty() ? home_.openSettings()->fileName() : home_.settingsFile).toStdString(),
        "state folder: " + home_.stateDir.toStdString(),
    };
}

} // namespace vandry
