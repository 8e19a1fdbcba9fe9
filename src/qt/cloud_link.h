#pragma once
// CCloudLink: the feed worker. A thread of its own runs the UpdateChecker: a tick at start and
// every ten seconds, HTTP POSTs over QNetworkAccessManager (blocking that thread only) and name
// look-ups over QHostInfo. The server list it writes is the shared, locked ServerList. Upgrade
// downloads run on the same thread.
//
// Threads: construct, start(), check() and destroy on the owner's (main) thread. The signals
// are emitted on the worker thread; connect them with a receiver that lives on the main thread
// (an automatic connection then queues them there), never with a bare lambda.

#include <QObject>
#include <QThread>
#include <functional>

#include "app/app_settings.h"
#include "common/identity.h"
#include "qt/upgrade_download.h"
#include "update/feed_config.h"
#include "update/update_checker.h"

namespace vandry {

class CCloudLink final : public QObject {
    Q_OBJECT
public:
    // `probeRunning` is called on the worker thread: it must be thread-safe (an atomic flag).
    CCloudLink(FeedConfig config, const HostIdentity& identity, ServerList& servers, std::function<bool()> probeRunning,
               QObject* parent = nullptr);
    // Stops the thread: a POST in progress is abandoned; a name look-up runs to its end.
    ~CCloudLink() override;

    // Runs one tick at once, then one every ten seconds.
    void start();
    // Queues one more check of the current feed address, as discovery asks when a server sends
    // a server list (flags 1).
    void check(std::uint32_t flags = kServerListCheckFlags);
    // Fetches and checks a release on the worker's thread; upgradeDownloaded() reports the end.
    // One at a time: a request while one runs is ignored.
    void downloadUpgrade(const UpgradeDownloadRequest& request);
    void cancelUpgradeDownload();

signals:
    // A server list was stored (or none came): start the server probe.
    void serverProbeRequested();
    void upgradeAvailable(const vandry::UpgradeOffer& offer);
    void upgradeProgress(qint64 received, qint64 total);
    void upgradeDownloaded(vandry::UpgradeRefusal refusal, const QString& file);

private:
    class Worker;
    QThread thread_;
    Worker* worker_; // lives on thread_; deleted there when the thread finishes
    bool started_ = false;
};

} // namespace vandry
