#include "server/server_options.h"

#include "server/redis_registry.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace vandry {

namespace {
constexpr qsizetype kMaxAdvertised = 8; // a copy takes the first eight servers of the feed's list

// A listening address may name port 0 (any free port); an advertised one may not.
std::optional<Endpoint> endpointFromText(const QString& text, bool anyPort = false)
{
    const auto colon = text.lastIndexOf(':');
    bool portOk = false;
    const uint port = text.mid(colon + 1).toUInt(&portOk);
    const auto address = ipv4FromText(text.left(colon).toStdString());
    if (colon < 0 || !address || !portOk || (port == 0 && !anyPort) || port > 65535)
        return std::nullopt;
    return Endpoint{*address, static_cast<std::uint16_t>(port)};
}

// Reads the options' values one by one, keeping the first complaint.
class ValueReader {
public:
    explicit ValueReader(const QCommandLineParser& parser) : parser_(parser) {}

    void listenEndpoint(const QCommandLineOption& option, Endpoint& out)
    {
        if (const auto endpoint = endpointFromText(parser_.value(option), true))
            out = *endpoint;
        else
            fail(option, "wants ADDR:PORT, a dotted IPv4 address and a port from 0 (any free port) to 65535");
    }
    template <typename Number> void number(const QCommandLineOption& option, qlonglong min, qlonglong max, Number& out)
    {
        bool ok = false;
        const qlonglong value = parser_.value(option).toLongLong(&ok);
        if (ok && value >= min && value <= max)
            out = static_cast<Number>(value);
        else
            fail(option, QStringLiteral("wants a number from %1 to %2").arg(min).arg(max));
    }
    void feedText(const QCommandLineOption& option, std::string& out)
    {
        out = parser_.value(option).toStdString();
        if (!isFeedValue(out))
            fail(option, "may not hold '<' or '>'");
    }
    void endpointList(const QCommandLineOption& option, std::vector<Endpoint>& out)
    {
        for (const QString& value : parser_.values(option))
            for (const QString& item : value.split(',', Qt::SkipEmptyParts)) {
                const auto endpoint = endpointFromText(item.trimmed());
                if (!endpoint)
                    fail(option, "wants ADDR:PORT items, a dotted IPv4 address and a port from 1 to 65535");
                else
                    out.push_back(*endpoint);
            }
        if (out.size() > kMaxAdvertised)
            fail(option, QStringLiteral("names more than %1 servers").arg(kMaxAdvertised));
    }
    void fail(const QCommandLineOption& option, const QString& what)
    {
        if (error_.isEmpty())
            error_ = "--" + option.names().constLast() + " " + what;
    }
    const QString& error() const { return error_; }

private:
    const QCommandLineParser& parser_;
    QString error_;
};

ParsedCommandLine failure(const QString& message)
{
    return {ParsedCommandLine::Outcome::Error, {}, message};
}
} // namespace

ParsedCommandLine parseServerCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Vandry rendezvous server (UDP) and update feed (HTTP).");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption udp("udp",
                                 "UDP address of the rendezvous server (0.0.0.0: every interface; port 0: "
                                 "a free port, named in the start line); also what --advertise defaults to.",
                                 "ADDR:PORT", "0.0.0.0:3333");
    const QCommandLineOption http("http", "Serve the update feed and downloads over HTTP here (port 0: a free port).",
                                  "ADDR:PORT");
    const QCommandLineOption advertise("advertise",
                                       "Rendezvous server named in the feed's Link; repeatable or "
                                       "comma-separated, at most 8. Default: the --udp address (127.0.0.1 for "
                                       "0.0.0.0).",
                                       "ADDR:PORT");
    const QCommandLineOption files("files", "Folder whose files are served for GET.", "DIR");
    const QCommandLineOption ver("ver", "Newest version in the feed.", "A.B.C.D", "0.9.0.0");
    const QCommandLineOption upUrl("upurl", "Page about the new version.", "URL");
    const QCommandLineOption upFile("upfile", "Address of the new executable.", "URL");
    const QCommandLineOption force("force-upgrade", "Make copies download the upgrade by themselves.");
    const QCommandLineOption refer("refer", "Fallback feed address.", "URL");
    const QCommandLineOption touch("touch", "Address copies report their identity to once.", "URL");
    const QCommandLineOption maxCopies("max-copies", "Copies kept at most; newcomers are refused beyond.", "N",
                                       "200000");
    const QCommandLineOption forgetAfter("forget-after",
                                         "Forget a copy not heard for this long (copies "
                                         "announce every 20 s).",
                                         "SECONDS", "45");
    const QCommandLineOption perAddress("max-per-address", "Copies kept at most behind one source address.", "N", "64");
    const QCommandLineOption registry("registry",
                                      "Share the copies with the other servers using this Redis registry; "
                                      "without it the table is kept here only.",
                                      "redis://HOST:PORT");
    const QCommandLineOption relayRate("relay-rate",
                                       "Bytes a copy may have carried to another through this server, per "
                                       "second, for copies that cannot reach each other (0: no relaying).",
                                       "KIB_PER_S", "2048");
    const QCommandLineOption relayTotal("relay-total", "Bytes carried between copies per second, all together.",
                                        "KIB_PER_S", "16384");
    const QCommandLineOption stats("stats", "Log a line of counters every SECONDS (0: never).", "SECONDS", "60");
    parser.addOptions({help, udp, http, advertise, files, ver, upUrl, upFile, force, refer, touch, maxCopies,
                       forgetAfter, perAddress, relayRate, relayTotal, stats, registry});
    if (!parser.parse(arguments))
        return failure(parser.errorText());
    if (parser.isSet(help))
        return {ParsedCommandLine::Outcome::Help, {}, parser.helpText()};
    if (!parser.positionalArguments().isEmpty())
        return failure("unexpected argument " + parser.positionalArguments().constFirst());

    ServerOptions o;
    ValueReader read(parser);
    read.listenEndpoint(udp, o.udp);
    if (parser.isSet(http))
        read.listenEndpoint(http, o.http.emplace());
    read.endpointList(advertise, o.feed.servers);
    if (o.feed.servers.empty())
        o.feed.servers.push_back({o.udp.address == 0 ? *ipv4FromText("127.0.0.1") : o.udp.address, o.udp.port});
    read.feedText(ver, o.feed.version);
    read.feedText(upUrl, o.feed.upgradePage);
    read.feedText(upFile, o.feed.upgradeFile);
    read.feedText(refer, o.feed.referFeed);
    read.feedText(touch, o.feed.touchAddress);
    o.feed.forceUpgrade = parser.isSet(force);
    read.number(maxCopies, 1, 1'000'000, o.rendezvous.maxCopies);
    read.number(forgetAfter, 20, 86'400, o.rendezvous.forgetAfterSeconds);
    read.number(perAddress, 1, 1'000'000, o.rendezvous.limits.identitiesPerAddress);
    double relayKiB = 0;
    double relayTotalKiB = 0;
    read.number(relayRate, 0, 10'000'000, relayKiB);
    read.number(relayTotal, 0, 10'000'000, relayTotalKiB);
    // A second's worth may come at once: a relayed link sends in bursts of its window.
    o.rendezvous.relay.copyBytes = {relayKiB * 1024, relayKiB * 1024};
    o.rendezvous.relay.totalBytes = {relayTotalKiB * 1024, relayTotalKiB * 1024};
    read.number(stats, 0, 86'400, o.statsEverySeconds);
    if (parser.isSet(registry)) {
        o.registry = parser.value(registry).toStdString();
        if (!parseRedisUrl(o.registry))
            read.fail(registry, "wants redis://HOST:PORT");
    }
    o.filesFolder = parser.value(files);
    if (parser.isSet(files) && !QFileInfo(o.filesFolder).isDir())
        read.fail(files, "is not a folder: " + o.filesFolder);
    if (!read.error().isEmpty())
        return failure(read.error());
    return {ParsedCommandLine::Outcome::Run, o, {}};
}

} // namespace vandry
