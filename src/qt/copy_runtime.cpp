#include "qt/copy_runtime.h"

#include <QCoreApplication>
#include <QProcess>
#include <malloc.h>
#include <random>

#include "common/text.h"
#include "portmap/mapping_methods.h"
#include "qt/cloud_link.h"
#include "qt/port_mapping_service.h"
#include "qt/qt_datagram_socket.h"
#include "qt/upgrader.h"
#include "update/installed_release.h"

namespace vandry {

namespace {
HostIdentity randomIdentity()
{
    static thread_local std::mt19937 engine{std::random_device{}()};
    HostIdentity id;
    for (auto& byte : id)
        byte = static_cast<std::uint8_t>(engine());
    return id;
}
} // namespace

CopyRuntime::CopyRuntime(const HomePaths& home, const FeedConfigOverrides& feedOverrides, QObject* parent)
    : QObject(parent), home_(home), host_(home.instanceKey.toStdString()), profileStore_(home.openSettings()),
      autostart_(XdgAutostart::forCurrentUser()), feedConfig_(resolveFeedConfig(profileStore_, feedOverrides)),
      copy_(CopyPlatform{clock_, network_, host_, fileSystem_, profileStore_}),
      settingsForm_(copy_.settings(), copy_.neighbours(), copy_.profile(), fileSystem_, autostart_,
                    QCoreApplication::applicationFilePath().toStdString()),
      resumeStore_((home.stateDir + QStringLiteral("/resume")).toStdString(), SerialWorker::Mode::Thread),
      streams_(resumeStore_), fileInfo_(resumeStore_),
      hashes_(fileInfo_, [this] { return copy_.settings().shareRoot; }),
      requestServices_(shareIndex_, hashes_, [this] { return copy_.settings().shareRoot; }),
      windowModel_(copy_, eventLog_, *this, hashes_),
      commands_(copy_, windowModel_,
                [this] { QMetaObject::invokeMethod(this, &CopyRuntime::stop, Qt::QueuedConnection); }),
      taskHistory_(home.stateDir.toStdString(), windowModel_.tasks(), windowModel_.listings(), hashes_, resumeStore_)
{
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, [this] {
        windowModel_.tick();
        if (discovery_)
            discovery_->punchTick();
        tickPortMapping();
        // The history follows the task list within a second, so a crash forgets nothing; it is
        // written only when a task came, went, or started or stopped running.
        taskHistory_.save(false);
    });
}

CopyRuntime::~CopyRuntime()
{
    // Waits for the removal of the router's mappings, which logs to the event log.
    portMapping_.reset();
    // The feed worker asks the endpoint whether a probe runs: it goes first.
    upgrader_.reset();
    feedWorker_.reset();
    udtWorker_.stop();
    udtBridge_.attachTransport(nullptr);
    udtBridge_.attachLinks(nullptr);
    discovery_.reset();
    links_.reset();
    if (indexWalker_.joinable())
        indexWalker_.join();
}

MissingRoot CopyRuntime::start()
{
    home_.ensureStateDir();
    copy_.refreshLocalRecord();
    copy_.takeNetworkSnapshot();
    return copy_.loadSettings();
}

bool CopyRuntime::run()
{
    auto socket = std::make_unique<QtDatagramSocket>();
    DatagramSocket& udp = *socket;
    discovery_ = std::make_unique<DiscoveryEndpoint>(
        std::move(socket),
        DiscoveryContext{copy_.settings(), copy_.neighbours(), eventLog_, windowModel_, requestServices_, udtBridge_});
    Profile profile(profileStore_);
    discovery_->setRelayedPeers(&relayedPeers_);
    if (!discovery_->open(DiscoveryEndpoint::kDefaultPort, profile.lastUdpPort())) {
        qCritical("vandry: cannot open a UDP port for discovery");
        return false;
    }
    profile.setLastUdpPort(udp.localPort());
    relayingSocket_ = std::make_unique<RelayingSocket>(udp, relayedPeers_);
    startDatagramTransport(*relayingSocket_);
    hashes_.load(hashTableFile());
    // Tasks that were running start again once the copy is up.
    taskHistory_.load([this](const HostIdentity& task) {
        postToMainThread([this, task] {
            const auto row = windowModel_.tasks().findRow(task);
            if (!row)
                return;
            // A user's resume shows "0%" until the transfer reports; after a restart the
            // progress just read from disk stays shown meanwhile.
            const std::string progress = windowModel_.tasks().rows()[*row][kTaskProgress];
            commands_.resumeTask(*row);
            if (const auto still = windowModel_.tasks().findRow(task))
                windowModel_.tasks().setProgressText(*still, progress);
        });
    });
    shareWatcher_ = std::make_unique<ShareWatcher>([this] { rebuildShareIndex(); },
                                                   [this](const std::string& line) {
                                                       eventLog_.append(line + "\r\n");
                                                       qWarning("%s", line.c_str());
                                                   });
    shareWatcher_->watch(copy_.settings().shareRoot);
    rebuildShareIndex();
    startLinks();
    startPortMapping();
    windowModel_.start();
    startFeedWorker();
    ticker_.start();
    if (!eventLog_.open((home_.stateDir + QLatin1Char('/')).toStdString() + std::string(kEventLogName)))
        qWarning("cannot create the event log in %s", qPrintable(home_.stateDir));
    return true;
}

void CopyRuntime::startDatagramTransport(DatagramSocket& socket)
{
    ServerList& servers = copy_.settings().servers;
    udt_ = std::make_unique<UdtTransport>(
        UdtContext{socket, clock_, copy_.neighbours(),
                   [&servers]() -> std::optional<Endpoint> {
                       const int best = servers.best();
                       if (best < 0)
                           return std::nullopt;
                       const auto server = servers.entry(static_cast<std::size_t>(best));
                       const auto address = ipv4FromText(server.address);
                       return address ? std::optional(Endpoint{*address, server.port}) : std::nullopt;
                   },
                   eventLog_, udtBridge_, udtWorker_,
                   [this](std::function<void()> work) { eventLoop_.post(std::move(work)); }, randomIdentity});
    udt_->usePunchPaths(discovery_.get());
    udt_->setRelayedPeers(&relayedPeers_);
    udtBridge_.attachTransport(udt_.get());
    udtBridge_.attachRelayedPeers(&relayedPeers_);
    udtWorker_.start(*udt_);
}

void CopyRuntime::startLinks()
{
    std::random_device seed;
    auto engine = std::make_shared<std::mt19937>(seed());
    links_ = std::make_unique<LinkTable>(LinkTableContext{
        socketFactory_, udtBridge_, udtBridge_, clock_, eventLoop_, copy_.neighbours(), streams_, eventLog_,
        windowModel_, [engine] { return (*engine)(); }, [this] { return copy_.settings().uploadLimit; },
        FolderTaskTables{&windowModel_.listings(), &hashes_, &stagedFiles_}});
    udtBridge_.attachLinks(links_.get());
    applyRoots();
    if (!links_->startListening())
        qWarning("cannot listen for transfers on any TCP port");
}

void CopyRuntime::applyRoots()
{
    if (links_)
        links_->setRoots({copy_.settings().shareRoot});
}

void CopyRuntime::startFeedWorker()
{
    DiscoveryEndpoint* discovery = discovery_.get();
    feedConfig_.installedVersion =
        installedReleaseVersion(profileStore_, QCoreApplication::applicationFilePath().toStdString());
    feedWorker_ = std::make_unique<CCloudLink>(feedConfig_, copy_.settings().identityCache, copy_.settings().servers,
                                               [discovery] { return discovery->serverProbeRunning(); });
    connect(feedWorker_.get(), &CCloudLink::serverProbeRequested, this, [discovery] { discovery->startServerProbe(); });
    const QString settingsFile = home_.settingsFile.isEmpty() ? home_.openSettings()->fileName() : home_.settingsFile;
    upgrader_ = std::make_unique<Upgrader>(
        *feedWorker_, profileStore_, UpgradeSetup{home_.stateDir, settingsFile, relaunchArguments_, upgradePrompt_},
        [this](const std::string& line) {
            eventLog_.append(line + "\r\n");
            qInfo("%s", line.c_str());
        },
        [this] { QMetaObject::invokeMethod(this, &CopyRuntime::stop, Qt::QueuedConnection); });
    feedWorker_->start();
}

void CopyRuntime::startPortMapping()
{
    const auto methods = parseMappingMethods(copy_.settings().portMapping);
    if (!methods || methods->empty())
        return;
    portMapping_ = std::make_unique<PortMappingService>(*methods, clock_, eventLoop_, [this](const std::string& line) {
        eventLog_.append(line + "\r\n");
        qInfo("%s", line.c_str());
    });
    portMapping_->mapper().start(copy_.localRecord());
}

void CopyRuntime::tickPortMapping()
{
    if (!portMapping_)
        return;
    PortMapper& mapper = portMapping_->mapper();
    HostRecord local = copy_.localRecord();
    mapper.tick(local);
    const bool changed = applyPublishedTcp(local, mapper.publishedTcp(local));
    if (changed)
        copy_.setLocalRecord(local);
    if ((changed || announceHeld_) && mapper.settled()) {
        announceHeld_ = false;
        windowModel_.announceNow();
    }
}

void CopyRuntime::prepareUpgrades(QStringList relaunchArguments, UpgradePromptHost* prompt)
{
    relaunchArguments_ = std::move(relaunchArguments);
    upgradePrompt_ = prompt;
}

void CopyRuntime::stop()
{
    if (stopping_)
        return;
    stopping_ = true;
    ticker_.stop();
    if (links_)
        links_->resetAllLinks();
    taskHistory_.save(true);
    hashes_.save(hashTableFile());
    if (discovery_)
        discovery_->stopServerProbe();
    upgrader_.reset();
    feedWorker_.reset();
    udtWorker_.stop();
    if (portMapping_)
        portMapping_->mapper().stop();
    emit stopped();
}

void CopyRuntime::settingsApplied(bool announceNickname, bool shareChanged)
{
    applyRoots();
    if (shareChanged) {
        if (shareWatcher_)
            shareWatcher_->watch(copy_.settings().shareRoot);
        rebuildShareIndex();
    }
    if (announceNickname)
        postToMainThread([this] { windowModel_.announceNow(); });
}

void CopyRuntime::announce(std::uint8_t form)
{
    // Neighbours hear of this copy once its router forwards its ports: a packet of theirs that
    // came earlier would leave the router tracking that flow as one to itself, unforwarded, for
    // as long as they keep sending.
    if (portMapping_ && !portMapping_->mapper().settled()) {
        announceHeld_ = true;
        return;
    }
    if (discovery_)
        discovery_->announce(form);
}

void CopyRuntime::runExtraUpdateCheck()
{
    if (feedWorker_)
        feedWorker_->check();
}

void CopyRuntime::postToMainThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void CopyRuntime::openWithDesktop(const std::string& path)
{
    QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(path)});
}

void CopyRuntime::trimMemory()
{
    malloc_trim(0);
}

std::vector<LinkSlotView> CopyRuntime::linkSlots() const
{
    std::vector<LinkSlotView> views(LinkTable::kLinks);
    if (!links_)
        return views;
    for (std::size_t i = 0; i < views.size(); ++i) {
        const LinkSlotState state = links_->slotState(static_cast<LinkIndex>(i));
        views[i].datagramHandle = state.datagram ? static_cast<std::uint32_t>(i) : 0;
        views[i].socketHandle = state.tcp ? static_cast<int>(i) : -1;
        views[i].peer = state.peer;
        if (state.datagram && udt_)
            views[i].peer = udt_->view(static_cast<std::uint8_t>(i)).peer;
    }
    return views;
}

void CopyRuntime::openLink(const LinkRequest& request)
{
    if (links_)
        links_->openLink(request);
}

int CopyRuntime::countTaskLinks(const HostIdentity& task) const
{
    return links_ ? links_->countTaskLinks(task) : 0;
}

std::vector<TransferProgress> CopyRuntime::transferProgress()
{
    std::vector<TransferProgress> transfers;
    for (std::size_t i = 0; i < StreamTable::kSlots; ++i) {
        const StreamSlot slot{static_cast<std::uint8_t>(i)};
        if (!streams_.inUse(slot))
            continue;
        StreamEntry& entry = streams_.at(slot);
        transfers.push_back({entry.ownerTask, entry.info.blockCount, entry.receivedKb, &entry.rate, &entry.previousKb,
                             entry.info.size});
    }
    return transfers;
}

std::vector<UploadView> CopyRuntime::uploads() const
{
    return links_ ? links_->uploads() : std::vector<UploadView>{};
}

void CopyRuntime::sweepIdleLinks()
{
    if (links_)
        links_->sweepIdleLinks();
}

std::filesystem::path CopyRuntime::hashTableFile() const
{
    return std::filesystem::path(home_.stateDir.toStdString()) / "Table.hash";
}

void CopyRuntime::rebuildShareIndex()
{
    if (indexWalker_.joinable()) {
        indexWalkPending_ = true;
        return;
    }
    const std::string root = copy_.settings().shareRoot;
    if (root.empty())
        return;
    // Walking a large share takes a while: the window keeps answering from the previous index.
    indexWalker_ = std::thread([this, root] {
        auto snapshot = std::make_shared<ShareIndexSnapshot>(scanShare(root));
        postToMainThread([this, snapshot] {
            indexWalker_.join();
            shareIndex_.install(std::move(*snapshot));
            if (std::exchange(indexWalkPending_, false))
                rebuildShareIndex();
        });
    });
}

void CopyRuntime::sendListingRequest(const NeighbourRecord& target, const std::string& wirePath, std::int32_t row)
{
    if (discovery_)
        discovery_->sendListingRequest(wirePath, static_cast<std::uint32_t>(row), target);
}

void CopyRuntime::searchAll(const std::string& text, std::uint8_t flags)
{
    if (discovery_)
        discovery_->searchAll(text, flags);
}

StreamView CopyRuntime::streamView(StreamSlot slot) const
{
    const StreamEntry& entry = streams_.at(slot);
    StreamView view{
        slot, entry.info.digest(), entry.info.size, entry.info.blockCount, entry.receivedKb, entry.rate, entry.path,
        {}};
    for (std::size_t i = 0; i < entry.map.rangeCount(); ++i)
        view.held.push_back(entry.map.range(i));
    return view;
}

void CopyRuntime::closeLink(std::uint8_t slot)
{
    if (links_ && slot < LinkTable::kLinks && links_->link(static_cast<LinkIndex>(slot)).inUse())
        links_->link(static_cast<LinkIndex>(slot)).resetLink();
}

std::vector<ReceivingLink> CopyRuntime::receivingLinks() const
{
    std::vector<ReceivingLink> receiving;
    for (std::size_t i = 0; links_ && i < LinkTable::kLinks; ++i) {
        const FileLink& link = links_->link(static_cast<LinkIndex>(i));
        const auto entry = link.stream().slot();
        if (!link.inUse() || !link.stream().writes() || !entry)
            continue;
        const FetchRange& range = link.stream().range();
        receiving.push_back({static_cast<std::uint8_t>(i), entry->index,
                             validUtf8(link.peer().neighbour.host.nickname()), range.start, range.end, range.position,
                             link.request().remotePath, link.path()});
    }
    return receiving;
}

std::optional<StreamView> CopyRuntime::streamOwnedBy(const HostIdentity& task) const
{
    const auto slot = streams_.findByOwner(task);
    return slot ? std::optional(streamView(*slot)) : std::nullopt;
}

std::optional<StreamView> CopyRuntime::streamWithDigest(const std::string& digestHex) const
{
    for (std::size_t i = 0; i < StreamTable::kSlots; ++i) {
        const StreamSlot slot{static_cast<std::uint8_t>(i)};
        if (streams_.inUse(slot) && streams_.at(slot).info.digest() == digestHex)
            return streamView(slot);
    }
    return std::nullopt;
}

std::vector<HostIdentity> CopyRuntime::receivingPeers(StreamSlot entry) const
{
    constexpr std::size_t kMaxPeers = 32;
    std::vector<HostIdentity> peers;
    for (std::size_t i = 0; links_ && i < LinkTable::kLinks && peers.size() < kMaxPeers; ++i) {
        const FileLink& link = links_->link(static_cast<LinkIndex>(i));
        if (link.inUse() && link.stream().writes() && link.stream().slot() == entry)
            peers.push_back(link.peer().identity());
    }
    return peers;
}

bool CopyRuntime::hasDuplicateSourceLink(const FileDigest& digest, const HostIdentity& peer) const
{
    return links_ && links_->hasDuplicateSourceLink(digest, peer);
}

bool CopyRuntime::linkUsedDatagram(std::uint8_t linkIndex) const
{
    return links_ && links_->slotState(static_cast<LinkIndex>(linkIndex)).datagram;
}

void CopyRuntime::retryOverDatagram(std::uint8_t linkIndex, const HostIdentity& task, const SourceInfo& key)
{
    if (!links_ || linkIndex >= LinkTable::kLinks)
        return;
    FileLink& link = links_->link(static_cast<LinkIndex>(linkIndex));
    const LinkRequest again{link.peer(), link.request(), task, key, link.localFile(), true, link.joinsFolder()};
    link.startLink(again);
}

void CopyRuntime::stopTaskLinks(const HostIdentity& task, bool force, std::optional<StreamSlot> entry)
{
    if (links_)
        links_->stopTaskLinks(task, force, entry);
}

void CopyRuntime::sendSourceLookup(const NeighbourRecord& target, const SourceInfo& key)
{
    if (discovery_)
        discovery_->sendSourceLookup(fileKeyOf(key), 0, target);
}

} // namespace vandry
