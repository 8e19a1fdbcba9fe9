#include "qt/upgrader.h"

#include <QCoreApplication>
#include <QFile>

#include "qt/cloud_link.h"
#include "qt/hand_over.h"
#include "update/installed_release.h"
#include "update/trusted_release_keys.h"

namespace vandry {

Upgrader::Upgrader(CCloudLink& feed, ProfileStore& profile, UpgradeSetup setup,
                   std::function<void(const std::string&)> log, std::function<void()> quit, QObject* parent)
    : QObject(parent), feed_(feed), profile_(profile), setup_(std::move(setup)), log_(std::move(log)),
      quit_(std::move(quit)), trusted_(loadTrustedKeys(profile)), flow_(hooks())
{
    connect(&feed_, &CCloudLink::upgradeAvailable, this, [this](const UpgradeOffer& offer) { flow_.offer(offer); });
    connect(&feed_, &CCloudLink::upgradeProgress, this, [this](qint64 received, qint64 total) {
        if (setup_.prompt)
            setup_.prompt->showUpgradeProgress(received, total);
    });
    connect(&feed_, &CCloudLink::upgradeDownloaded, this, [this](UpgradeRefusal refusal, const QString& file) {
        flow_.downloadFinished(refusal, file.toStdString());
    });
}

Upgrader::~Upgrader()
{
    if (setup_.prompt)
        setup_.prompt->closeUpgradePrompt();
}

std::vector<Ed25519PublicKey> Upgrader::loadTrustedKeys(const ProfileStore& profile)
{
    const std::string value = profile.readText(kProfileSection, kKeyUpgradeKeys).value_or(std::string{});
    if (value.empty())
        return trustedReleaseKeys({}).keys;
    if (!onlyOwnerCanWrite(setup_.settingsFile.toStdString())) {
        log_("Release keys of the profile ignored: others may write " + setup_.settingsFile.toStdString());
        return trustedReleaseKeys({}).keys;
    }
    TrustedKeys trusted = trustedReleaseKeys(value);
    for (const std::string& item : trusted.ignored)
        log_("Not a release key in the profile: " + item);
    return std::move(trusted.keys);
}

UpgradeFlow::Hooks Upgrader::hooks()
{
    UpgradeFlow::Hooks hooks;
    hooks.replaceBlock = [] { return replaceBlockFor(QCoreApplication::applicationFilePath().toStdString()); };
    if (setup_.prompt)
        hooks.openPrompt = [this](const UpgradeOffer& offer, PromptMode mode) {
            setup_.prompt->openUpgradePrompt(offer, mode, flow_);
        };
    hooks.startDownload = [this](const UpgradeOffer& offer) {
        feed_.downloadUpgrade({offer.fileUrl, setup_.stateFolder, trusted_, offer.localVersion});
    };
    hooks.cancelDownload = [this] { feed_.cancelUpgradeDownload(); };
    hooks.showOutcome = [this](UpgradeRefusal refusal) {
        if (setup_.prompt)
            setup_.prompt->showUpgradeOutcome(refusal);
    };
    hooks.startHandOver = [this](const std::filesystem::path& release, std::uint32_t version) {
        // Recorded first: the new process may ask the feed before this one has ended.
        if (const auto hashed = hashFile(release))
            recordInstalledRelease(profile_, version, hashed->first);
        QString error;
        if (startHandOver(QString::fromStdString(release.string()), setup_.relaunchArguments, error))
            return true;
        log_("The new version did not start: " + error.toStdString());
        QFile::remove(QString::fromStdString(release.string()));
        return false;
    };
    hooks.quit = quit_;
    hooks.log = log_;
    return hooks;
}

} // namespace vandry
