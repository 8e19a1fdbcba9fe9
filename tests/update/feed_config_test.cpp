#include <gtest/gtest.h>

#include "fakes.h"
#include "update/feed_config.h"

using namespace vandry;
using vandry::testing::MemoryProfileStore;

TEST(FeedConfig, CompiledFallbackFeedHasTheExpectedPath)
{
    EXPECT_TRUE(defaultFeedConfig().fallbackFeedUrl.ends_with("/rss/varsyldev.xml"));
    EXPECT_FALSE(defaultFeedConfig().feedUrl.empty());
}

TEST(FeedConfig, ProfileOverridesDefaultsAndTheCommandLineOverridesBoth)
{
    MemoryProfileStore profile;
    EXPECT_EQ(resolveFeedConfig(profile, {}), defaultFeedConfig());

    profile.values["Settings/FeedURL"] = "http://profile/feed";
    profile.values["Settings/TouchHost"] = "profile.example";
    profile.values["Settings/FallbackFeedURL"] = "";
    FeedConfig expected = defaultFeedConfig();
    expected.feedUrl = "http://profile/feed";
    expected.touchHost = "profile.example";
    EXPECT_EQ(resolveFeedConfig(profile, {}), expected);

    FeedConfigOverrides overrides;
    overrides.feedUrl = "http://cli/feed";
    overrides.fallbackFeedUrl = "http://cli/rss/varsyldev.xml";
    overrides.touchHost = "";
    expected.feedUrl = "http://cli/feed";
    expected.fallbackFeedUrl = "http://cli/rss/varsyldev.xml";
    EXPECT_EQ(resolveFeedConfig(profile, overrides), expected);
}
