#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "common/version.h"
#include "update/update_checker.h"

using namespace vandry;

namespace {

const FeedConfig kConfig{"http://feed/", "http://fallback/rss/varsyldev.xml", "touch.example"};
const std::string kTouchHostFeed = "http://touch.example/Touch/";
const HostIdentity kIdentity{0x00, 0x00, 0x09, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}; // version 0.9.0.0

class ScriptedPoster final : public HttpPoster {
public:
    std::optional<std::string> post(const std::string& url, const std::string& body) override
    {
        requests.push_back({url, body});
        const auto it = answers.find(url);
        return it == answers.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    std::size_t count(const std::string& url) const
    {
        return static_cast<std::size_t>(
            std::count_if(requests.begin(), requests.end(), [&](const auto& r) { return r.first == url; }));
    }
    std::map<std::string, std::string> answers; // a URL without an answer fails
    std::vector<std::pair<std::string, std::string>> requests;
};

class FixedResolver final : public HostResolver {
public:
    std::optional<Ipv4> firstIpv4(const std::string&) override
    {
        ++lookups;
        return address;
    }
    std::optional<Ipv4> address = 0x0A000001;
    int lookups = 0;
};

class UpdateCheckerTest : public ::testing::Test {
protected:
    UpdateChecker make(const FeedConfig& config = kConfig)
    {
        return UpdateChecker(config, kIdentity, servers, http, resolver,
                             {[this] { ++probes; },
                              [this] { return probeRunning; },
                              [this](const UpgradeOffer& offer) { offers.push_back(offer); },
                              [this] {
                                  if (onStepQueued)
                                      onStepQueued();
                              },
                              {}});
    }
    // Bounded, so that steps that keep queueing steps fail instead of hanging.
    void drain(UpdateChecker& which)
    {
        for (int steps = 0; which.runNextStep(); ++steps)
            ASSERT_LT(steps, 100);
    }
    void drain() { drain(checker); }
    // Ticks 1..count, returning the ticks at which `url` was asked.
    std::vector<int> tickAndRecord(UpdateChecker& which, int count, const std::string& url)
    {
        std::vector<int> asked;
        for (int tick = 1; tick <= count; ++tick) {
            const auto before = http.count(url);
            which.tick();
            drain(which);
            if (http.count(url) > before)
                asked.push_back(tick);
        }
        return asked;
    }
    void fillServers()
    {
        for (std::size_t i = 0; i < kServerCount; ++i)
            servers.setEntry(i, "9.9.9." + std::to_string(i), static_cast<std::uint16_t>(9000 + i));
    }

    ServerList servers;
    ScriptedPoster http;
    FixedResolver resolver;
    int probes = 0;
    bool probeRunning = false;
    std::vector<UpgradeOffer> offers;
    std::function<void()> onStepQueued;
    UpdateChecker checker = make();
};

} // namespace

TEST_F(UpdateCheckerTest, WithoutServersTicksBackOffThenAskTheTouchHostEvery29Ticks)
{
    UpdateChecker other = make();
    EXPECT_EQ(tickAndRecord(checker, 90, kConfig.feedUrl),
              (std::vector<int>{1, 2, 3, 4, 6, 8, 9, 10, 12, 14, 15, 18, 21, 24, 27}));
    EXPECT_EQ(http.count(kTouchHostFeed), 3u); // ticks 30, 59 and 88
    EXPECT_EQ(tickAndRecord(other, 90, kTouchHostFeed), (std::vector<int>{30, 59, 88}));
    // Each failed first-level check falls back once, then probes the old list.
    EXPECT_EQ(http.count(kConfig.fallbackFeedUrl), 2 * 18u);
    EXPECT_EQ(probes, 2 * 18);

    // A touch host on loopback or in 60.0.0.0/8 is looked up but not asked.
    for (const Ipv4 address : {0x7F000001u, 0x3C010203u}) {
        resolver.address = address;
        UpdateChecker fresh = make();
        EXPECT_TRUE(tickAndRecord(fresh, 60, kTouchHostFeed).empty());
        EXPECT_EQ(fresh.tickCounter(), 32);
    }
}

TEST_F(UpdateCheckerTest, TicksStartNothingWhileAServerIsKnownOrTheProbeRunsOrATickIsHandled)
{
    onStepQueued = [this] { checker.tick(); }; // re-entered from within the tick: ignored
    checker.tick();
    EXPECT_EQ(checker.tickCounter(), 1);
    EXPECT_EQ(checker.pendingSteps().size(), 1u);
    onStepQueued = nullptr;
    drain();

    probeRunning = true;
    checker.tick();
    EXPECT_EQ(checker.tickCounter(), 1);
    probeRunning = false;
    servers.offerBest(0);
    checker.tick();
    EXPECT_EQ(checker.tickCounter(), 0);
    EXPECT_TRUE(checker.pendingSteps().empty());
}

TEST_F(UpdateCheckerTest, LinkWithTwoItemsReplacesTheServerListAndStartsTheProbe)
{
    fillServers();
    http.answers[kConfig.feedUrl] = "<?xml?><Link>1.2.3.4:3333,5.6.7.8:1552</Link><Refer>http://unused</Refer>";
    checker.check("", 0);
    drain();
    EXPECT_EQ(checker.feedResult(), "1.2.3.4:3333,5.6.7.8:1552|http://unused");
    EXPECT_EQ(servers.entry(0), (ServerList::Entry{"1.2.3.4", 3333}));
    EXPECT_EQ(servers.entry(1), (ServerList::Entry{"5.6.7.8", 1552}));
    for (std::size_t i = 2; i < kServerCount; ++i)
        EXPECT_EQ(servers.entry(i).address, "") << i;
    EXPECT_EQ(probes, 1);
    EXPECT_EQ(http.requests.size(), 1u);
}

TEST_F(UpdateCheckerTest, FailedFirstLevelCheckFallsBackOnceThenProbesTheOldList)
{
    fillServers();
    const auto before = servers.entries();
    checker.check("", 0);
    ASSERT_TRUE(checker.runNextStep());
    EXPECT_EQ(checker.feedResult(), "|");
    ASSERT_TRUE(checker.runNextStep());
    EXPECT_EQ(checker.pendingSteps(), (std::deque<FeedStep>{{FeedStepKind::Check, kFallbackCheckFlags}}));
    EXPECT_EQ(checker.currentFeedUrl(), kConfig.fallbackFeedUrl);

    http.answers[kConfig.fallbackFeedUrl] = "<?xml?><Ver>0.9.0.0</Ver>";
    ASSERT_TRUE(checker.runNextStep());
    ASSERT_TRUE(checker.runNextStep());
    EXPECT_EQ(checker.pendingSteps(), (std::deque<FeedStep>{{FeedStepKind::StartProbe, 0}}));
    drain();
    EXPECT_EQ(probes, 1);
    EXPECT_EQ(servers.entries(), before);
    EXPECT_EQ(http.requests.size(), 2u);
}

TEST_F(UpdateCheckerTest, ReferKeepsTheHighFlagsAndServerListChecksSkipTheFallback)
{
    http.answers[kConfig.feedUrl] = "<?xml?><Refer>http://other/</Refer>";
    checker.queueCheck(0x20);
    ASSERT_TRUE(checker.runNextStep());
    ASSERT_TRUE(checker.runNextStep());
    EXPECT_EQ(checker.pendingSteps(), (std::deque<FeedStep>{{FeedStepKind::Check, 0x25}}));
    drain();
    EXPECT_EQ(http.count("http://other/"), 1u);
    EXPECT_EQ(http.count(kConfig.fallbackFeedUrl), 0u);

    http.answers.clear();
    checker.check("", kServerListCheckFlags);
    drain();
    EXPECT_EQ(http.requests.back(), std::make_pair(kConfig.feedUrl, "<root><clnt>" + identityText(kIdentity) +
                                                                        "</clnt><code>CheckUpdates</code></root>"));
    EXPECT_EQ(probes, 2);
}

TEST_F(UpdateCheckerTest, AReferRingEndsAfterAFewHopsAndTheNextCheckFollowsItAgain)
{
    http.answers[kConfig.feedUrl] = "<?xml?><Refer>http://ring-a/</Refer>";
    http.answers["http://ring-a/"] = "<?xml?><Refer>http://ring-b/</Refer>";
    http.answers["http://ring-b/"] = "<?xml?><Refer>http://ring-a/</Refer>";
    checker.check("", 0);
    drain();
    EXPECT_EQ(http.requests.size(), 1u + kMaxReferHops);
    EXPECT_EQ(probes, 1);
    checker.check("", 0);
    drain();
    EXPECT_EQ(http.requests.size(), 2u * (1 + kMaxReferHops));
}

TEST_F(UpdateCheckerTest, TouchReportFollowsTheApplyAndIsTriedThreeTimesAtMostAndOnceAfterASuccess)
{
    const std::string touchUrl = "http://report/";
    http.answers[kConfig.feedUrl] = "<?xml?><Touch>" + touchUrl + "</Touch>";
    checker.check("", 0);
    ASSERT_TRUE(checker.runNextStep());
    EXPECT_EQ(checker.pendingSteps(), (std::deque<FeedStep>{{FeedStepKind::Apply, 0}, {FeedStepKind::Touch, 0}}));
    drain();
    for (int i = 0; i < 4; ++i) {
        checker.check("", 0);
        drain();
    }
    EXPECT_EQ(http.count(touchUrl), 3u);
    EXPECT_EQ(
        std::find_if(http.requests.begin(), http.requests.end(), [&](auto& r) { return r.first == touchUrl; })->second,
        "<root><clnt>" + identityText(kIdentity) + "</clnt><code>Touch</code></root>");

    http.answers[touchUrl] = "";
    UpdateChecker other = make();
    for (int i = 0; i < 3; ++i) {
        other.check("", 0);
        drain(other);
    }
    EXPECT_EQ(http.count(touchUrl), 4u);
}

TEST_F(UpdateCheckerTest, NewerVersionIsOfferedOnlyWithAnHttpFile)
{
    const std::string page(kHelpPageUrl);
    const std::vector<std::pair<std::string, std::optional<UpgradeOffer>>> cases{
        {"<Ver>0.9.0.1</Ver><UpFile>http://x</UpFile>",
         UpgradeOffer{page, "http://x", 0x00090000, 0x00090001, 300000, false}},
        {"<Ver>0.9.0.1</Ver><UpURL>http://p</UpURL><UpFile>https://x</UpFile><F>1</F>",
         UpgradeOffer{"http://p", "https://x", 0x00090000, 0x00090001, 300000, true}},
        {"<Ver>0.9.0.1</Ver><UpFile>ftp://x</UpFile>", std::nullopt},
        {"<Ver>0.9.0.0</Ver><UpFile>http://x</UpFile>", std::nullopt},
        {"<Ver>0.8.300.1</Ver><UpFile>http://x</UpFile>", std::nullopt},
    };
    for (const auto& [answer, offer] : cases) {
        offers.clear();
        http.answers[kConfig.feedUrl] = "<?xml?>" + answer;
        checker.check("", 0);
        ASSERT_TRUE(checker.runNextStep());
        EXPECT_EQ(offers, offer ? std::vector<UpgradeOffer>{*offer} : std::vector<UpgradeOffer>{}) << answer;
        drain();
    }
}

TEST_F(UpdateCheckerTest, AReleaseInstalledByAnUpgradeIsNotOfferedAgain)
{
    // The release was offered as 0.9.0.5 but carries 0.9.0.0 inside.
    FeedConfig config = kConfig;
    config.installedVersion = 0x00090005;
    UpdateChecker installed = make(config);
    for (const auto& [version, offered] : {std::pair{"0.9.0.5", false}, std::pair{"0.9.0.6", true}}) {
        offers.clear();
        http.answers[kConfig.feedUrl] = std::string("<?xml?><Ver>") + version + "</Ver><UpFile>http://x</UpFile>";
        installed.check("", 0);
        drain(installed);
        ASSERT_EQ(offers.size(), offered ? 1u : 0u) << version;
        if (offered) {
            EXPECT_EQ(offers[0].localVersion, 0x00090005u);
        }
    }
}
