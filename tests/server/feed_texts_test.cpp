// The feed's texts, the download path check and the command line.
#include <gtest/gtest.h>

#include "server/core/feed_document.h"
#include "server/core/served_path.h"
#include "server/server_options.h"

namespace vandry::testing {
namespace {

// An element as a copy finds it: the text between the first "<Name>" and the next "</Name>".
std::string copyReads(const std::string& answer, const std::string& name)
{
    const auto start = answer.find("<" + name + ">");
    if (start == std::string::npos || start == 0)
        return "<missing>";
    const auto from = start + name.size() + 2;
    const auto end = answer.find("</" + name + ">", from);
    return end == std::string::npos ? "<missing>" : answer.substr(from, end - from);
}

TEST(FeedDocument, AnswerReadsBackElementByElementAsACopyReadsIt)
{
    FeedSettings settings;
    settings.version = "0.9.0.1";
    settings.upgradePage = "http://example.org/new";
    settings.upgradeFile = "http://example.org/UpFile.exe";
    settings.forceUpgrade = true;
    settings.servers = {{0xC0000201, 3333}, {0xC0000202, 1552}};
    settings.touchAddress = "http://example.org/touch";

    const auto answer = buildFeedAnswer(settings);
    EXPECT_EQ(answer.rfind("<?", 0), 0u);
    EXPECT_EQ(copyReads(answer, "Ver"), "0.9.0.1");
    EXPECT_EQ(copyReads(answer, "UpURL"), "http://example.org/new");
    EXPECT_EQ(copyReads(answer, "UpFile"), "http://example.org/UpFile.exe");
    EXPECT_EQ(copyReads(answer, "F"), "1");
    EXPECT_EQ(copyReads(answer, "Link"), "192.0.2.1:3333,192.0.2.2:1552");
    EXPECT_EQ(copyReads(answer, "Refer"), "");
    EXPECT_EQ(copyReads(answer, "Touch"), "http://example.org/touch");
    EXPECT_EQ(copyReads(buildFeedAnswer({}), "F"), "0");
}

TEST(FeedDocument, RequestIsReadRawOrFormEncodedAndMissingPartsReadEmpty)
{
    const auto raw = parseFeedRequest("<root><clnt>0000-ID</clnt><code>CheckUpdates</code></root>");
    EXPECT_EQ(raw.client, "0000-ID");
    EXPECT_EQ(raw.code, "CheckUpdates");

    const auto encoded = parseFeedRequest("%3Croot%3E%3Cclnt%3EA+B%3C%2Fclnt%3E%3Ccode%3ETouch%3C/code%3E");
    EXPECT_EQ(encoded.client, "A B");
    EXPECT_EQ(encoded.code, "Touch");

    const auto partial = parseFeedRequest("<root><clnt>unterminated<code></code>");
    EXPECT_EQ(partial.client, "");
    EXPECT_EQ(partial.code, "");
    EXPECT_EQ(parseFeedRequest("%zz").client, "");
}

TEST(FeedServedPath, PlainNamesAreDecodedAndEverythingThatCouldEscapeIsRefused)
{
    EXPECT_EQ(servedPathNames("/UpFile.exe"), (std::vector<std::string>{"UpFile.exe"}));
    EXPECT_EQ(servedPathNames("/v1/Up%20File..exe"), (std::vector<std::string>{"v1", "Up File..exe"}));
    for (const char* bad : {"", "UpFile.exe", "/", "//x", "/x/", "/.", "/..", "/../x", "/x/../y", "/%2e%2e/x",
                            "/%2E%2E", "/x%2fy", "/x%5cy", "/x\\y", "/x%00y", "/x%0ay", "/%zz", "/x%2"})
        EXPECT_FALSE(servedPathNames(bad)) << bad;
    EXPECT_FALSE(servedPathNames("/" + std::string(kMaxServedPathBytes, 'x')));
}

ParsedCommandLine parse(QStringList arguments)
{
    arguments.prepend("vandry-server");
    return parseServerCommandLine(arguments);
}

TEST(ServerOptions, DefaultsAdvertiseLoopbackForTheWildcardAddress)
{
    const auto parsed = parse({});
    ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::Run) << parsed.message.toStdString();
    EXPECT_EQ(parsed.options.udp, (Endpoint{0, 3333}));
    EXPECT_FALSE(parsed.options.http);
    EXPECT_EQ(serverListText(parsed.options.feed.servers), "127.0.0.1:3333");
    EXPECT_EQ(parsed.options.feed.version, "0.9.0.0");
    EXPECT_EQ(parsed.options.rendezvous.maxCopies, 200000u);
    EXPECT_EQ(parsed.options.rendezvous.forgetAfterSeconds, 45);

    EXPECT_EQ(serverListText(parse({"--udp", "192.0.2.1:4000"}).options.feed.servers), "192.0.2.1:4000");
}

TEST(ServerOptions, ListeningOnPortZeroTakesAFreePort)
{
    const auto parsed = parse({"--udp", "127.0.0.1:0", "--http", "127.0.0.1:0"});
    ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::Run) << parsed.message.toStdString();
    EXPECT_EQ(parsed.options.http, (Endpoint{0x7F000001, 0}));
    // The server fills in the port it bound before it serves the feed.
    EXPECT_EQ(serverListText(parsed.options.feed.servers), "127.0.0.1:0");
}

TEST(ServerOptions, AdvertisedServersAreRepeatableOrCommaSeparated)
{
    const auto parsed = parse({"--advertise", "192.0.2.1:3333,192.0.2.2:3334", "--advertise", "192.0.2.3:1552",
                               "--http", "127.0.0.1:8080", "--force-upgrade", "--max-copies", "5"});
    ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::Run) << parsed.message.toStdString();
    EXPECT_EQ(serverListText(parsed.options.feed.servers), "192.0.2.1:3333,192.0.2.2:3334,192.0.2.3:1552");
    EXPECT_EQ(parsed.options.http, (Endpoint{0x7F000001, 8080}));
    EXPECT_TRUE(parsed.options.feed.forceUpgrade);
    EXPECT_EQ(parsed.options.rendezvous.maxCopies, 5u);
}

TEST(ServerOptions, RelayRatesAreGivenInKibibytesPerSecond)
{
    const auto parsed = parse({"--relay-rate", "64", "--relay-total", "1024"});
    ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::Run) << parsed.message.toStdString();
    EXPECT_EQ(parsed.options.rendezvous.relay.copyBytes.perSecond, 64 * 1024);
    EXPECT_EQ(parsed.options.rendezvous.relay.totalBytes.perSecond, 1024 * 1024);
    EXPECT_EQ(parse({"--relay-rate", "0"}).options.rendezvous.relay.copyBytes.burst, 0) << "relaying off";
}

TEST(ServerOptions, BadValuesAreRefusedWithTheOptionNamed)
{
    const std::pair<QStringList, QString> cases[] = {
        {{"--udp", "localhost:3333"}, "--udp"},
        {{"--http", "127.0.0.1:65536"}, "--http"},
        {{"--advertise", "127.0.0.1:0"}, "--advertise"},
        {{"--http", "127.0.0.1"}, "--http"},
        {{"--advertise", "1.1.1.1:1,1.1.1.2:1,1.1.1.3:1,1.1.1.4:1,1.1.1.5:1,1.1.1.6:1,1.1.1.7:1,1.1.1.8:1,"
                         "1.1.1.9:1"},
         "--advertise"},
        {{"--ver", "1</Ver><F>1"}, "--ver"},
        {{"--max-copies", "0"}, "--max-copies"},
        {{"--forget-after", "5"}, "--forget-after"},
        {{"--relay-rate", "-1"}, "--relay-rate"},
        {{"--relay-total", "lots"}, "--relay-total"},
        {{"--files", "/nonexistent/folder"}, "--files"},
        {{"--bogus"}, "bogus"},
        {{"stray"}, "stray"},
    };
    for (const auto& [arguments, named] : cases) {
        const auto parsed = parse(arguments);
        EXPECT_EQ(parsed.outcome, ParsedCommandLine::Outcome::Error) << arguments.join(' ').toStdString();
        EXPECT_TRUE(parsed.message.contains(named)) << parsed.message.toStdString();
    }
    EXPECT_EQ(parse({"--help"}).outcome, ParsedCommandLine::Outcome::Help);
}

} // namespace
} // namespace vandry::testing
