#include "server/feed_http_server.h"

#include <QFile>
#include <QFileInfo>

#include "server/bounded_tcp_server.h"
#include "server/core/log_text.h"
#include "server/served_file.h"

namespace vandry {

namespace {
const char* const kFeedPaths[] = {"/feed", "/", "/rss/varsyldev.xml"};
} // namespace

FeedHttpServer::FeedHttpServer(const FeedSettings& feed, const QString& filesFolder, LogSink log)
    : answer_(QByteArray::fromStdString(buildFeedAnswer(feed))),
      filesRoot_(filesFolder.isEmpty() ? QString() : QFileInfo(filesFolder).canonicalFilePath()), log_(std::move(log))
{
    for (const char* path : kFeedPaths)
        http_.route(QString::fromLatin1(path), QHttpServerRequest::Method::Post,
                    [this](const QHttpServerRequest& request) { return answerFeed(request); });
    http_.setMissingHandler([this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        serveFile(request, std::move(responder));
    });
}

quint16 FeedHttpServer::listen(Endpoint endpoint)
{
    auto* server = new BoundedTcpServer(kMaxRequestBytes);
    if (!server->listen(QHostAddress(endpoint.address), endpoint.port)) {
        delete server;
        return 0;
    }
    http_.bind(server); // takes ownership
    return server->serverPort();
}

QHttpServerResponse FeedHttpServer::answerFeed(const QHttpServerRequest& request) const
{
    const QByteArray body = request.body();
    const FeedRequest feedRequest = parseFeedRequest(std::string_view(body.constData(), body.size()));
    log_("feed request from " + request.remoteAddress().toString().toStdString() + ": client " +
         printableForLog(feedRequest.client) + ", code " + printableForLog(feedRequest.code));
    return QHttpServerResponse(QByteArrayLiteral("text/xml"), answer_);
}

void FeedHttpServer::serveFile(const QHttpServerRequest& request, QHttpServerResponder&& responder) const
{
    const QByteArray path = request.url().path(QUrl::FullyEncoded).toUtf8();
    const auto file = request.method() == QHttpServerRequest::Method::Get
                          ? servedFile(filesRoot_, std::string_view(path.constData(), path.size()))
                          : std::nullopt;
    if (!file) {
        responder.write(QHttpServerResponder::StatusCode::NotFound);
        return;
    }
    log_("download of " + file->toStdString() + " by " + request.remoteAddress().toString().toStdString());
    responder.write(new QFile(*file), QByteArrayLiteral("application/octet-stream"));
}

} // namespace vandry
