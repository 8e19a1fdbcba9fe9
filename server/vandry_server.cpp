// vandry-server: the rendezvous server copies register with over UDP, and the update feed they
// fetch over HTTP. Runs until SIGINT or SIGTERM.
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "common/clock.h"
#include "qt/termination_signals.h"
#include "server/batch_udp_socket.h"
#include "server/core/feed_document.h"
#include "server/core/rendezvous_server.h"
#include "server/feed_http_server.h"
#include "server/redis_registry.h"
#include "server/server_log.h"
#include "server/server_options.h"

namespace {
using namespace vandry;

constexpr int kForgetSweepMs = 5000;
constexpr int kReceiveBufferBytes = 8 << 20; // absorbs bursts of announces and echoes

std::string endpointText(Endpoint endpoint)
{
    return ipv4ToText(endpoint.address) + ":" + std::to_string(endpoint.port);
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "vandry-server: %s\n", message.c_str());
    return 1;
}

int run(QCoreApplication& app, ServerOptions options)
{
    BatchUdpSocket socket(options.udp.address);
    socket.setReceiveBufferSize(kReceiveBufferBytes);
    if (!socket.bind(options.udp.port))
        return fail("cannot bind UDP port " + std::to_string(options.udp.port));
    // Port 0 lets the system pick a free port; the feed then advertises the one it picked.
    for (Endpoint& advertised : options.feed.servers)
        if (advertised.port == 0)
            advertised.port = socket.localPort();
    SystemClock clock;
    std::unique_ptr<RedisRegistry> registry;
    RendezvousServer* shared = nullptr; // set once the server exists; snapshots arrive later, queued
    if (!options.registry.empty()) {
        RedisRegistry::Settings settings;
        settings.address = *parseRedisUrl(options.registry);
        settings.expirySeconds = options.rendezvous.forgetAfterSeconds;
        settings.maxEntries = options.rendezvous.maxCopies;
        registry = std::make_unique<RedisRegistry>(settings, logLine, [&shared](const RedisRegistry::Snapshot& s) {
            if (shared)
                shared->takeRegistrySnapshot(s);
        });
    }
    RendezvousServer rendezvous(socket, clock, options.rendezvous, logLine, registry.get());
    shared = &rendezvous;
    QTimer forgetSweep;
    forgetSweep.callOnTimeout([&rendezvous] { rendezvous.forgetSilentCopies(); });
    forgetSweep.start(kForgetSweepMs);
    QTimer statsTimer;
    RendezvousStats lastStats;
    std::uint32_t lastStatsMs = clock.tickMs();
    if (options.statsEverySeconds > 0) {
        statsTimer.callOnTimeout([&] {
            const std::uint32_t nowMs = clock.tickMs(); // the timer may fire late under load
            logLine(
                statsLine(rendezvous.copies().size(), rendezvous.stats(), lastStats, (nowMs - lastStatsMs) / 1000.0));
            lastStats = rendezvous.stats();
            lastStatsMs = nowMs;
        });
        statsTimer.start(options.statsEverySeconds * 1000);
    }

    std::unique_ptr<FeedHttpServer> feed;
    std::string httpText = "off";
    if (options.http) {
        feed = std::make_unique<FeedHttpServer>(options.feed, options.filesFolder, logLine);
        const quint16 httpPort = feed->listen(*options.http);
        if (httpPort == 0)
            return fail("cannot listen for HTTP on " + endpointText(*options.http));
        httpText = endpointText({options.http->address, httpPort});
    }
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app, [&app](int signalNumber) {
        logLine("stopping on signal " + std::to_string(signalNumber));
        app.quit();
    });
    logLine("started: UDP " + endpointText({options.udp.address, socket.localPort()}) + ", HTTP " + httpText +
            ", advertising " + serverListText(options.feed.servers) + ", at most " +
            std::to_string(options.rendezvous.maxCopies) + " copies, forgotten after " +
            std::to_string(options.rendezvous.forgetAfterSeconds) + " s" +
            (options.registry.empty() ? std::string() : ", registry " + options.registry));
    const int status = QCoreApplication::exec();
    logLine("stopped");
    return status;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const ParsedCommandLine parsed = parseServerCommandLine(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::Help:
        std::fputs(parsed.message.toLocal8Bit().constData(), stdout);
        return 0;
    case ParsedCommandLine::Outcome::Error:
        std::fprintf(stderr, "vandry-server: %s (see --help)\n", parsed.message.toLocal8Bit().constData());
        return 2;
    case ParsedCommandLine::Outcome::Run:
        break;
    }
    return run(app, parsed.options);
}
