#include "qt/cloud_link.h"

#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <memory>

#include "common/version.h"

namespace vandry {

namespace {

// A feed answer is a few hundred bytes; anything this large is not one.
constexpr qint64 kMaxAnswerBytes = 1 << 20;
constexpr int kPostTimeoutMs = 30'000;

bool interrupted()
{
    return QThread::currentThread()->isInterruptionRequested();
}

// Blocks the calling thread until the reply is in, running a nested event loop; the worker
// thread guards itself against the ticks and steps that loop may deliver.
class QtHttpPoster final : public HttpPoster {
public:
    std::optional<std::string> post(const std::string& url, const std::string& body) override
    {
        if (interrupted())
            return std::nullopt;
        QNetworkRequest request(QUrl(QString::fromStdString(url)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        request.setHeader(
            QNetworkRequest::UserAgentHeader,
            QByteArray(kApplicationShortName.data(), static_cast<qsizetype>(kApplicationShortName.size())));
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        request.setTransferTimeout(kPostTimeoutMs);

        std::unique_ptr<QNetworkReply> reply(network_.post(request, QByteArray::fromStdString(body)));
        QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(), [r = reply.get()](qint64 got) {
            if (got > kMaxAnswerBytes)
                r->abort();
        });
        if (!reply->isFinished()) {
            QEventLoop wait;
            QObject::connect(reply.get(), &QNetworkReply::finished, &wait, &QEventLoop::quit);
            wait.exec(); // also left when the thread is asked to quit
        }
        if (!reply->isFinished())
            reply->abort();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status != 200)
            return std::nullopt;
        // The body as received: line ends inside element texts are all the parser could see
        // differently if the lines were re-joined, and it trims none of them.
        return reply->readAll().toStdString();
    }

private:
    QNetworkAccessManager network_;
};

class QtHostResolver final : public HostResolver {
public:
    std::optional<Ipv4> firstIpv4(const std::string& host) override
    {
        const QHostInfo info = QHostInfo::fromName(QString::fromStdString(host));
        for (const QHostAddress& address : info.addresses())
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                return address.toIPv4Address();
        return std::nullopt;
    }
};

} // namespace

class CCloudLink::Worker final : public QObject {
public:
    Worker(CCloudLink& link, FeedConfig config, const HostIdentity& identity, ServerList& servers,
           std::function<bool()> probeRunning)
        : link_(link), config_(std::move(config)), identity_(identity), servers_(servers),
          probeRunning_(std::move(probeRunning))
    {
    }

    // A download in progress stops (its file removed) before the network it runs on goes.
    ~Worker() override { delete download_; }

    // On the worker thread: the network objects belong to it.
    void begin()
    {
        http_ = std::make_unique<QtHttpPoster>();
        timer_ = std::make_unique<QTimer>();
        QObject::connect(timer_.get(), &QTimer::timeout, this, [this] { onTimer(); });
        checker_ = std::make_unique<UpdateChecker>(config_, identity_, servers_, *http_, resolver_, hooks());
        onTimer();
        timer_->start(kFeedTickPeriod);
    }

    void queueCheck(std::uint32_t flags) { checker_->queueCheck(flags); }

    void downloadUpgrade(UpgradeDownloadRequest request)
    {
        if (download_)
            return;
        if (!downloadNetwork_)
            downloadNetwork_ = std::make_unique<QNetworkAccessManager>();
        download_ = new UpgradeDownload(*downloadNetwork_, std::move(request), this);
        connect(download_, &UpgradeDownload::progress, this,
                [this](qint64 received, qint64 total) { emit link_.upgradeProgress(received, total); });
        connect(download_, &UpgradeDownload::finished, this, [this](UpgradeRefusal refusal, const QString& file) {
            download_->deleteLater();
            download_ = nullptr;
            emit link_.upgradeDownloaded(refusal, file);
        });
        download_->start();
    }

    void cancelUpgradeDownload()
    {
        if (download_)
            download_->cancel();
    }

private:
    UpdateChecker::Hooks hooks()
    {
        return {
            [this] { emit link_.serverProbeRequested(); },
            probeRunning_,
            [this](const UpgradeOffer& offer) { emit link_.upgradeAvailable(offer); },
            [this] {
                QMetaObject::invokeMethod(
                    this, [this] { drain(); }, Qt::QueuedConnection);
            },
            [this] { timer_->start(kFeedTickPeriod); },
        };
    }

    // A tick that comes while a step waits for its POST runs once the queue is empty, as a
    // timer message waits behind posted ones.
    void onTimer()
    {
        if (inStep_) {
            tickDeferred_ = true;
            return;
        }
        checker_->tick();
    }

    // Steps run one after the other, never inside one another: a drain asked for from the
    // nested loop of a POST is left to the drain already running.
    void drain()
    {
        if (inStep_)
            return;
        inStep_ = true;
        while (!interrupted() && checker_->runNextStep()) {
        }
        inStep_ = false;
        if (tickDeferred_ && !interrupted()) {
            tickDeferred_ = false;
            checker_->tick();
        }
    }

    CCloudLink& link_;
    const FeedConfig config_;
    const HostIdentity identity_;
    ServerList& servers_;
    const std::function<bool()> probeRunning_;
    std::unique_ptr<QtHttpPoster> http_;
    QtHostResolver resolver_;
    std::unique_ptr<QTimer> timer_;
    std::unique_ptr<UpdateChecker> checker_;
    bool inStep_ = false;
    bool tickDeferred_ = false;
    std::unique_ptr<QNetworkAccessManager> downloadNetwork_;
    UpgradeDownload* download_ = nullptr; // a child of this worker while it runs
};

CCloudLink::CCloudLink(FeedConfig config, const HostIdentity& identity, ServerList& servers,
                       std::function<bool()> probeRunning, QObject* parent)
    : QObject(parent), worker_(new Worker(*this, std::move(config), identity, servers, std::move(probeRunning)))
{
    qRegisterMetaType<UpgradeOffer>();
    qRegisterMetaType<UpgradeRefusal>();
    thread_.setObjectName(QStringLiteral("CCloudLink"));
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    // Queued first, so that it runs before any check queued before start().
    QMetaObject::invokeMethod(
        worker_, [w = worker_] { w->begin(); }, Qt::QueuedConnection);
}

CCloudLink::~CCloudLink()
{
    if (!started_) {
        delete worker_; // its thread never ran: nothing of it is alive elsewhere
        return;
    }
    thread_.requestInterruption();
    thread_.quit();
    thread_.wait();
}

void CCloudLink::start()
{
    if (started_)
        return;
    started_ = true;
    thread_.start();
}

void CCloudLink::check(std::uint32_t flags)
{
    QMetaObject::invokeMethod(
        worker_, [w = worker_, flags] { w->queueCheck(flags); }, Qt::QueuedConnection);
}

void CCloudLink::downloadUpgrade(const UpgradeDownloadRequest& request)
{
    QMetaObject::invokeMethod(
        worker_, [w = worker_, request] { w->downloadUpgrade(request); }, Qt::QueuedConnection);
}

void CCloudLink::cancelUpgradeDownload()
{
    QMetaObject::invokeMethod(
        worker_, [w = worker_] { w->cancelUpgradeDownload(); }, Qt::QueuedConnection);
}

} // namespace vandry
