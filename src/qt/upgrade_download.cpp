#include "qt/upgrade_download.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "common/version.h"

namespace vandry {

namespace {
// Far above any signature; an answer this large is not one.
constexpr qint64 kMaxSignatureAnswer = 4096;
// A transfer that stalls this long fails.
constexpr int kStallTimeoutMs = 60'000;

QNetworkRequest getRequest(const std::string& url)
{
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QByteArray(kApplicationShortName.data(), static_cast<qsizetype>(kApplicationShortName.size())));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(kStallTimeoutMs);
    return request;
}

int statusOf(const QNetworkReply& reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}
} // namespace

UpgradeDownload::UpgradeDownload(QNetworkAccessManager& network, UpgradeDownloadRequest request, QObject* parent)
    : QObject(parent), network_(network), request_(std::move(request))
{
}

UpgradeDownload::~UpgradeDownload()
{
    // Aborting reports the end at once: not to this half-destroyed object.
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
    if (file_.isOpen())
        file_.remove();
}

void UpgradeDownload::start()
{
    reply_ = network_.get(getRequest(request_.fileUrl + std::string(kReleaseSignatureSuffix)));
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 got) {
        if (got > kMaxSignatureAnswer)
            reply_->abort();
    });
    connect(reply_, &QNetworkReply::finished, this, &UpgradeDownload::signatureArrived);
}

void UpgradeDownload::cancel()
{
    cancelled_ = true;
    if (reply_)
        reply_->abort();
}

void UpgradeDownload::signatureArrived()
{
    QNetworkReply* reply = reply_;
    reply->deleteLater();
    if (cancelled_)
        return finish(UpgradeRefusal::Cancelled);
    if (statusOf(*reply) == 404)
        return finish(UpgradeRefusal::MissingSignature);
    if (reply->error() == QNetworkReply::OperationCanceledError) // far too long to be a signature
        return finish(UpgradeRefusal::BadSignature);
    if (reply->error() != QNetworkReply::NoError || statusOf(*reply) != 200)
        return finish(UpgradeRefusal::DownloadFailed);
    const QByteArray body = reply->readAll();
    const SignatureCheck check = checkReleaseSignature(
        ByteSpan(reinterpret_cast<const std::uint8_t*>(body.constData()), static_cast<std::size_t>(body.size())),
        request_.trusted);
    if (check.refusal != UpgradeRefusal::None)
        return finish(check.refusal);
    signature_ = check.signature;
    startRelease();
}

void UpgradeDownload::startRelease()
{
    const auto path = upgradeDownloadPath(request_.stateFolder.toStdString(), QDateTime::currentSecsSinceEpoch());
    file_.setFileName(QString::fromStdString(path.string()));
    // An older download of the same name goes; the new one is ours alone until it is verified.
    QFile::remove(file_.fileName());
    if (!file_.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return finish(UpgradeRefusal::CannotSave);
    reply_ = network_.get(getRequest(request_.fileUrl));
    connect(reply_, &QNetworkReply::readyRead, this, &UpgradeDownload::releaseDataArrived);
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 got, qint64 total) {
        emit progress(got, total > 0 ? total : static_cast<qint64>(signature_.size));
    });
    connect(reply_, &QNetworkReply::finished, this, &UpgradeDownload::releaseArrived);
}

void UpgradeDownload::releaseDataArrived()
{
    if (statusOf(*reply_) != 200)
        return;
    const QByteArray data = reply_->readAll();
    received_ += static_cast<std::uint64_t>(data.size());
    // More than was signed cannot be the signed release: stop fetching it.
    if (received_ > signature_.size) {
        tooLarge_ = true;
        reply_->abort();
        return;
    }
    if (file_.write(data) != data.size()) {
        file_.close();
        reply_->abort();
    }
}

void UpgradeDownload::releaseArrived()
{
    QNetworkReply* reply = reply_;
    reply->deleteLater();
    if (cancelled_)
        return finish(UpgradeRefusal::Cancelled);
    if (tooLarge_)
        return finish(UpgradeRefusal::HashMismatch);
    if (!file_.isOpen())
        return finish(UpgradeRefusal::CannotSave);
    if (statusOf(*reply) != 200 || (reply->error() != QNetworkReply::NoError && received_ == 0))
        return finish(UpgradeRefusal::DownloadFailed);
    releaseDataArrived();
    if (tooLarge_)
        return finish(UpgradeRefusal::HashMismatch);
    if (reply->error() != QNetworkReply::NoError)
        return finish(UpgradeRefusal::ShortDownload);
    if (!file_.flush() || !file_.isOpen())
        return finish(UpgradeRefusal::CannotSave);
    file_.close();
    std::optional<std::uint64_t> announced;
    bool lengthOk = false;
    const qulonglong length = reply->header(QNetworkRequest::ContentLengthHeader).toULongLong(&lengthOk);
    if (lengthOk)
        announced = length;
    const UpgradeRefusal refusal =
        checkReceivedRelease({file_.fileName().toStdString(), received_, announced}, signature_, request_.localVersion);
    if (refusal == UpgradeRefusal::None &&
        !file_.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return finish(UpgradeRefusal::CannotSave);
    finish(refusal);
}

void UpgradeDownload::finish(UpgradeRefusal refusal)
{
    if (done_)
        return;
    done_ = true;
    if (file_.isOpen())
        file_.close();
    if (refusal != UpgradeRefusal::None && !file_.fileName().isEmpty())
        file_.remove();
    emit finished(refusal, refusal == UpgradeRefusal::None ? file_.fileName() : QString());
}

} // namespace vandry
