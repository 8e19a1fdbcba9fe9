#pragma once
// The HTTP side of the server: the update feed answered to POSTs on "/feed", "/" and
// "/rss/varsyldev.xml", and GETs of the files of one folder for the upgrade download.
// Anything else is 404.

#include <QHttpServer>
#include <QString>

#include <functional>
#include <string>

#include "common/ipv4.h"
#include "server/core/feed_document.h"

namespace vandry {

class FeedHttpServer {
public:
    using LogSink = std::function<void(const std::string&)>;
    // Far above any feed request; a request larger than this is dropped unanswered.
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;

    // An empty `filesFolder` serves no files.
    FeedHttpServer(const FeedSettings& feed, const QString& filesFolder, LogSink log);

    // The port now listened on (the one asked for, or the one given for 0), or 0 when it cannot be bound.
    quint16 listen(Endpoint endpoint);

private:
    QHttpServerResponse answerFeed(const QHttpServerRequest& request) const;
    void serveFile(const QHttpServerRequest& request, QHttpServerResponder&& responder) const;

    QHttpServer http_;
    QByteArray answer_;
    QString filesRoot_; // canonical; empty when no files are served
    LogSink log_;
};

} // namespace vandry
