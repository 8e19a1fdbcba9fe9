#include "qt/copy_runtime.h"

#include <QCoreApplication>
#include <QProcess>
#include <malloc.h>
#include <random>

#include "qt/cloud_link.h"
#include "qt/qt_datagram_socket.h"

namespace vandry {

namespace {
// Links over the datagram transport arrive with the reliable-UDP subsystem; until then none
// is ever opened, so nothing is queued here.
class NoDatagramLinkTransport final : public DatagramLinkTransport {
public:
    void queueFrame(LinkIndex, ByteSpan) override {}
    void endConnection(LinkIndex, bool) override {}
};
NoDatagramLinkTransport noDatagramLinks;
} // namespace

CopyRuntime::CopyRuntime(const HomePaths& home, const FeedConfigOverrides& feedOverrides, QObject* parent)
    : QObject(parent), home_(home), host_(home.instanceKey.toStdString()), profileStore_(home.openSettings()),
      autostart_(XdgAutostart::forCurrentUser()), feedConfig_(resolveFeedConfig(profileStore_, feedOverrides)),
      copy_(CopyPlatform{clock_, network_, host_, fileSystem_, profileStore_}),
      settingsForm_(copy_.settings(), copy_.neighbours(), copy_.profile(), fileSystem_, autostart_,
                    QCoreApplication::applicationFilePath().toStdString()),
      windowModel_(copy_, eventLog_, *this),
      commands_(copy_, windowModel_,
                [this] { QMetaObject::invokeMethod(this, &CopyRuntime::stop, Qt::QueuedConnection); }),
      resumeStore_((home.stateDir + QStringLiteral("/resume")).toStdString()), streams_(resumeStore_)
{
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, [this] { windowModel_.tick(); });
}

CopyRuntime::~CopyRuntime()
{
    // The feed worker asks the endpoint whether a probe runs: it goes first.
    feedWorker_.reset();
    discovery_.reset();
    links_.reset();
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
    discovery_ = std::make_unique<DiscoveryEndpoint>(std::make_unique<QtDatagramSocket>(),
                                                     DiscoveryContext{copy_.settings(), copy_.neighbours(), eventLog_,
                                                                      windowModel_, requestServices_, transportSink_});
    if (!discovery_->open()) {
        qCritical("vandry: cannot open a UDP port for discovery");
        return false;
    }
    startLinks();
    windowModel_.start();
    startFeedWorker();
    ticker_.start();
    if (!eventLog_.open((home_.stateDir + QLatin1Char('/')).toStdString() + std::string(kEventLogName)))
        qWarning("cannot create the event log in %s", qPrintable(home_.stateDir));
    return true;
}

void CopyRuntime::startLinks()
{
    std::random_device seed;
    auto engine = std::make_shared<std::mt19937>(seed());
    links_ = std::make_unique<LinkTable>(LinkTableContext{socketFactory_, noDatagramLinks, datagramConnector_, clock_,
                                                          eventLoop_, copy_.neighbours(), streams_, eventLog_,
                                                          windowModel_, [engine] { return (*engine)(); }});
    applyRoots();
    if (!links_->startListening())
        qWarning("cannot listen for transfers on any TCP port");
}

void CopyRuntime::applyRoots()
{
    if (links_)
        links_->setRoots({copy_.settings().shareRoot, copy_.settings().downloadRoot});
}

void CopyRuntime::startFeedWorker()
{
    DiscoveryEndpoint* discovery = discovery_.get();
    feedWorker_ = std::make_unique<CCloudLink>(feedConfig_, copy_.settings().identityCache, copy_.settings().servers,
                                               [discovery] { return discovery->serverProbeRunning(); });
    connect(feedWorker_.get(), &CCloudLink::serverProbeRequested, this, [discovery] { discovery->startServerProbe(); });
    connect(feedWorker_.get(), &CCloudLink::upgradeAvailable, this, [this](const UpgradeOffer& offer) {
        eventLog_.append("A newer version is available: " + offer.fileUrl + "\r\n");
        qInfo("a newer version is available: %s", offer.fileUrl.c_str());
    });
    feedWorker_->start();
}

void CopyRuntime::stop()
{
    if (stopping_)
        return;
    stopping_ = true;
    ticker_.stop();
    if (links_)
        links_->resetAllLinks();
    if (discovery_)
        discovery_->stopServerProbe();
    feedWorker_.reset();
    emit stopped();
}

void CopyRuntime::settingsApplied(bool announceNickname, bool)
{
    // The share index that a changed share root rebuilds joins with the browse and search subsystem.
    applyRoots();
    if (announceNickname)
        postToMainThread([this] { windowModel_.announceNow(); });
}

void CopyRuntime::announce(std::uint8_t form)
{
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
        transfers.push_back({entry.ownerTask, entry.info.blockCount, entry.receivedKb, &entry.rate, &entry.previousKb});
    }
    return transfers;
}

void CopyRuntime::sweepIdleLinks()
{
    if (links_)
        links_->sweepIdleLinks();
}

} // namespace vandry
