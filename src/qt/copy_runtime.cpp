#include "qt/copy_runtime.h"

#include <QCoreApplication>
#include <QProcess>
#include <malloc.h>

#include "qt/cloud_link.h"
#include "qt/qt_datagram_socket.h"

namespace vandry {

namespace {
constexpr std::size_t kLinkSlots = 128;
}

CopyRuntime::CopyRuntime(const HomePaths& home, const FeedConfigOverrides& feedOverrides, QObject* parent)
    : QObject(parent), home_(home), host_(home.instanceKey.toStdString()), profileStore_(home.openSettings()),
      autostart_(XdgAutostart::forCurrentUser()), feedConfig_(resolveFeedConfig(profileStore_, feedOverrides)),
      copy_(CopyPlatform{clock_, network_, host_, fileSystem_, profileStore_}),
      settingsForm_(copy_.settings(), copy_.neighbours(), copy_.profile(), fileSystem_, autostart_,
                    QCoreApplication::applicationFilePath().toStdString()),
      windowModel_(copy_, eventLog_, *this), commands_(copy_, windowModel_, [this] {
          QMetaObject::invokeMethod(this, &CopyRuntime::stop, Qt::QueuedConnection);
      })
{
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, [this] { windowModel_.tick(); });
}

CopyRuntime::~CopyRuntime()
{
    // The feed worker asks the endpoint whether a probe runs: it goes first.
    feedWorker_.reset();
    discovery_.reset();
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
    windowModel_.start();
    startFeedWorker();
    ticker_.start();
    if (!eventLog_.open((home_.stateDir + QLatin1Char('/')).toStdString() + std::string(kEventLogName)))
        qWarning("cannot create the event log in %s", qPrintable(home_.stateDir));
    return true;
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
    if (discovery_)
        discovery_->stopServerProbe();
    feedWorker_.reset();
    emit stopped();
}

void CopyRuntime::settingsApplied(bool announceNickname, bool)
{
    // The share index that a changed share root rebuilds joins with the browse and search subsystem.
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
    // No peer links exist yet; the dump shows the table idle.
    return std::vector<LinkSlotView>(kLinkSlots);
}

} // namespace vandry
