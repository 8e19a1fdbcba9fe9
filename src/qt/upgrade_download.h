#pragma once
// Fetches a release and its signature into the copy's state folder and checks them: the
// signature first (a release without a trusted one is not even fetched), then the release,
// whose size, hash and version must be as signed. Runs on the feed worker's thread; the
// network reads are asynchronous, the final hash blocks that thread only.

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>
#include <vector>

#include "update/release_check.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace vandry {

struct UpgradeDownloadRequest {
    std::string fileUrl;
    QString stateFolder;
    std::vector<Ed25519PublicKey> trusted;
    std::uint32_t localVersion = 0;
};

class UpgradeDownload final : public QObject {
    Q_OBJECT
public:
    UpgradeDownload(QNetworkAccessManager& network, UpgradeDownloadRequest request, QObject* parent = nullptr);
    ~UpgradeDownload() override;

    void start();
    // Stops the download; finished() follows with Cancelled.
    void cancel();

signals:
    void progress(qint64 received, qint64 total);
    // None with the verified file (executable by its owner only), else why it was refused; a
    // refused download leaves no file behind.
    void finished(vandry::UpgradeRefusal refusal, const QString& file);

private:
    void signatureArrived();
    void startRelease();
    void releaseDataArrived();
    void releaseArrived();
    void finish(UpgradeRefusal refusal);

    QNetworkAccessManager& network_;
    UpgradeDownloadRequest request_;
    QPointer<QNetworkReply> reply_;
    ReleaseSignature signature_;
    QFile file_;
    std::uint64_t received_ = 0;
    bool tooLarge_ = false;
    bool cancelled_ = false;
    bool done_ = false;
};

} // namespace vandry
