#pragma once
// The self-upgrade of a running copy on Qt: the feed worker's offers go through the
// UpgradeFlow; the window (when there is one) shows the prompt; the worker fetches and checks
// the release; a verified release is started for the hand-over and the copy quits.

#include <QObject>
#include <QStringList>
#include <functional>

#include "app/profile.h"
#include "update/upgrade_flow.h"

namespace vandry {

class CCloudLink;

// The window's side: the prompt "新版本升级提示". It calls flow.consent() on "升级" and
// flow.promptClosed() when it closes.
class UpgradePromptHost {
public:
    virtual ~UpgradePromptHost() = default;
    virtual void openUpgradePrompt(const UpgradeOffer& offer, PromptMode mode, UpgradeFlow& flow) = 0;
    virtual void showUpgradeProgress(qint64 received, qint64 total) = 0;
    virtual void showUpgradeOutcome(UpgradeRefusal refusal) = 0;
    // Closes the prompt without telling the flow, which is going away.
    virtual void closeUpgradePrompt() = 0;
};

struct UpgradeSetup {
    QString stateFolder;  // where releases are downloaded
    QString settingsFile; // the profile, whose "UpgradeKeys" count only while it is private
    QStringList relaunchArguments;
    UpgradePromptHost* prompt = nullptr; // none: only automatic offers proceed
};

class Upgrader final : public QObject {
    Q_OBJECT
public:
    // `log` takes one event-log line without its line end; `quit` runs the copy's stop sequence.
    Upgrader(CCloudLink& feed, ProfileStore& profile, UpgradeSetup setup, std::function<void(const std::string&)> log,
             std::function<void()> quit, QObject* parent = nullptr);
    ~Upgrader() override;

    UpgradeFlow& flow() { return flow_; }

private:
    UpgradeFlow::Hooks hooks();
    std::vector<Ed25519PublicKey> loadTrustedKeys(const ProfileStore& profile);

    CCloudLink& feed_;
    ProfileStore& profile_;
    UpgradeSetup setup_;
    std::function<void(const std::string&)> log_;
    std::function<void()> quit_;
    std::vector<Ed25519PublicKey> trusted_;
    UpgradeFlow flow_;
};

} // namespace vandry
