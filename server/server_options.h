#pragma once
// The command line of vandry-server.

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

#include "common/ipv4.h"
#include "server/core/feed_document.h"
#include "server/core/rendezvous_server.h"

namespace vandry {

struct ServerOptions {
    Endpoint udp{0, 3333};
    std::optional<Endpoint> http; // no HTTP side when absent
    QString filesFolder;          // served for GET; empty: none
    FeedSettings feed;            // its server list from --advertise, or made from --udp
    RendezvousSettings rendezvous;
    int statsEverySeconds = 60; // 0: no stats lines
    std::string registry;       // "redis://HOST:PORT" shared with other servers; empty: none
};

struct ParsedCommandLine {
    enum class Outcome { Run, Help, Error };
    Outcome outcome = Outcome::Error;
    ServerOptions options; // meaningful when the outcome is Run
    QString message;       // the help text or what was wrong
};

// `arguments` as QCoreApplication::arguments() gives them, the program name first.
ParsedCommandLine parseServerCommandLine(const QStringList& arguments);

} // namespace vandry
