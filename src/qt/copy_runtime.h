#pragma once
// The running copy on Qt: the core's RunningCopy wired to this machine's clock, network, file
// system, profile and autostart entries; the discovery endpoint on a Qt UDP socket; the feed
// worker; the window model and its one-second timer; and the commands both front ends use.

#include <QObject>
#include <QTimer>
#include <memory>
#include <mutex>
#include <thread>

#include "app/autostart.h"
#include "app/running_copy.h"
#include "app/settings_form.h"
#include "common/event_log.h"
#include "discovery/discovery_endpoint.h"
#include "discovery/relaying_socket.h"
#include "link/link_table.h"
#include "link/staged_file_finisher.h"
#include "link/stream_table.h"
#include "qt/home_paths.h"
#include "qt/linux_platform.h"
#include "qt/qt_event_loop.h"
#include "qt/qt_file_system.h"
#include "qt/qt_profile_store.h"
#include "qt/qt_socket_factory.h"
#include "qt/share_watcher.h"
#include "store/file_info_source.h"
#include "store/resume_store.h"
#include "store/share_hash_table.h"
#include "store/share_index.h"
#include "store/share_services.h"
#include "tasks/task_history.h"
#include "udt/udt_link_bridge.h"
#include "udt/udt_worker.h"
#include "ui/copy_commands.h"
#include "ui/main_window_model.h"
#include "update/feed_config.h"

namespace vandry {

class CCloudLink;
class PortMappingService;
class Upgrader;
class UpgradePromptHost;

class CopyRuntime : public QObject, private MainWindowHost {
    Q_OBJECT
public:
    CopyRuntime(const HomePaths& home, const FeedConfigOverrides& feedOverrides, QObject* parent = nullptr);
    ~CopyRuntime() override;

    RunningCopy& copy() { return copy_; }
    SettingsForm& settingsForm() { return settingsForm_; }
    MainWindowModel& windowModel() { return windowModel_; }
    CopyCommands& commands() { return commands_; }
    const HomePaths& home() const { return home_; }

    // The first half of start-up: local record, network snapshot, settings. Returns the root
    // the user still has to choose before the copy can share, if any.
    MissingRoot start();
    // How an upgrade restarts this copy (its options) and who asks the user (none: only the
    // feed's automatic upgrades are installed). Call before run().
    void prepareUpgrades(QStringList relaunchArguments, UpgradePromptHost* prompt);
    // The second half: the discovery endpoint, the neighbour list, the feed worker, the timer
    // and the event log. False when no UDP port could be bound.
    bool run();
    // The stop sequence; emits stopped() when done.
    void stop();
    // The settings dialog closed: announce a new nickname at once, serve and write in the new roots.
    void settingsApplied(bool announce, bool shareChanged);
    LinkTable* links() { return links_.get(); }
    const ResumeStore& resumeStore() const { return resumeStore_; }

signals:
    void stopped();

private:
    // MainWindowHost
    void announce(std::uint8_t form) override;
    void runExtraUpdateCheck() override;
    void postToMainThread(std::function<void()> work) override;
    void openWithDesktop(const std::string& path) override;
    void trimMemory() override;
    std::vector<LinkSlotView> linkSlots() const override;
    int countTaskLinks(const HostIdentity& task) const override;
    std::vector<ReceivingLink> receivingLinks() const override;
    void closeLink(std::uint8_t slot) override;
    std::vector<TransferProgress> transferProgress() override;
    void sweepIdleLinks() override;
    std::vector<UploadView> uploads() const override;
    void sendListingRequest(const NeighbourRecord& target, const std::string& wirePath, std::int32_t row) override;
    void searchAll(const std::string& text, std::uint8_t flags) override;
    void rebuildShareIndex() override;
    // TransferControl
    void openLink(const LinkRequest& request) override;
    std::optional<StreamView> streamOwnedBy(const HostIdentity& task) const override;
    std::optional<StreamView> streamWithDigest(const std::string& digestHex) const override;
    std::vector<HostIdentity> receivingPeers(StreamSlot entry) const override;
    bool hasDuplicateSourceLink(const FileDigest& digest, const HostIdentity& peer) const override;
    bool linkUsedDatagram(std::uint8_t linkIndex) const override;
    void retryOverDatagram(std::uint8_t linkIndex, const HostIdentity& task, const SourceInfo& key) override;
    void stopTaskLinks(const HostIdentity& task, bool force, std::optional<StreamSlot> entry) override;
    void sendSourceLookup(const NeighbourRecord& target, const SourceInfo& key) override;

    void startLinks();
    void startDatagramTransport(DatagramSocket& socket);
    void applyRoots();

    void startFeedWorker();
    void startPortMapping();
    // Keeps the record's agent fields on the router's forwarded TCP port; announces a change.
    void tickPortMapping();
    StreamView streamView(StreamSlot slot) const;
    std::filesystem::path hashTableFile() const;

    HomePaths home_;
    SystemClock clock_;
    LinuxNetworkPlatform network_;
    LinuxHostPlatform host_;
    QtFileSystem fileSystem_;
    QtProfileStore profileStore_;
    XdgAutostart autostart_;
    FeedConfig feedConfig_;
    RunningCopy copy_;
    SettingsForm settingsForm_;
    EventLog eventLog_;
    ResumeStore resumeStore_;
    StreamTable streams_;
    LocalFileInfoSource fileInfo_;
    ShareHashTable hashes_;
    ShareIndex shareIndex_;
    ShareServices requestServices_;
    MainWindowModel windowModel_;
    CopyCommands commands_;
    TaskHistory taskHistory_;
    QtSocketFactory socketFactory_;
    QtEventLoop eventLoop_;
    // The datagram transport: the bridge is given to the endpoint and the links before the
    // transport exists; the worker stops before the endpoint's socket goes.
    UdtLinkBridge udtBridge_;
    RelayedPeers relayedPeers_;
    std::unique_ptr<RelayingSocket> relayingSocket_;
    std::unique_ptr<UdtTransport> udt_;
    CGuardianUDT udtWorker_;
    // Outlives the links that hand it their files, and ends before the event loop it reports to.
    StagedFileFinisher stagedFiles_{eventLoop_, SerialWorker::Mode::Thread};
    std::unique_ptr<LinkTable> links_;
    std::unique_ptr<DiscoveryEndpoint> discovery_;
    std::unique_ptr<CCloudLink> feedWorker_;
    QStringList relaunchArguments_;
    UpgradePromptHost* upgradePrompt_ = nullptr;
    std::unique_ptr<Upgrader> upgrader_; // goes before the feed worker it uses
    std::unique_ptr<PortMappingService> portMapping_;
    bool announceHeld_ = false; // asked for before the first mapping round came back
    QTimer ticker_;
    bool stopping_ = false;
    // The share is walked on this thread; a rebuild asked for meanwhile runs when it is done.
    std::thread indexWalker_;
    std::unique_ptr<ShareWatcher> shareWatcher_;
    bool indexWalkPending_ = false;
};

} // namespace vandry
