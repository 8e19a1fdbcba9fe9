#include "update/feed_config.h"

namespace vandry {

namespace {
void overrideWith(std::string& value, const std::optional<std::string>& replacement)
{
    if (replacement && !replacement->empty())
        value = *replacement;
}
} // namespace

FeedConfig defaultFeedConfig()
{
    return {VANDRY_FEED_URL, VANDRY_FALLBACK_FEED_URL, VANDRY_TOUCH_HOST};
}

FeedConfig resolveFeedConfig(const ProfileStore& profile, const FeedConfigOverrides& overrides)
{
    FeedConfig config = defaultFeedConfig();
    overrideWith(config.feedUrl, profile.readText(kProfileSection, kKeyFeedUrl));
    overrideWith(config.fallbackFeedUrl, profile.readText(kProfileSection, kKeyFallbackFeedUrl));
    overrideWith(config.touchHost, profile.readText(kProfileSection, kKeyTouchHost));
    overrideWith(config.feedUrl, overrides.feedUrl);
    overrideWith(config.fallbackFeedUrl, overrides.fallbackFeedUrl);
    overrideWith(config.touchHost, overrides.touchHost);
    return config;
}

} // namespace vandry
