#pragma once
// Where the update feed lives: deployment data. Compiled defaults (CMake cache variables
// VANDRY_FEED_URL, VANDRY_FALLBACK_FEED_URL, VANDRY_TOUCH_HOST), overridden by the profile keys
// below in section "Settings", overridden in turn by what the command line gives.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/profile.h"

namespace vandry {

inline constexpr std::string_view kKeyFeedUrl = "FeedURL";
inline constexpr std::string_view kKeyFallbackFeedUrl = "FallbackFeedURL";
inline constexpr std::string_view kKeyTouchHost = "TouchHost";

struct FeedConfig {
    std::string feedUrl;         // the feed every timer check asks
    std::string fallbackFeedUrl; // asked once when the feed names no servers and no other feed
    std::string touchHost;       // its feed "http://HOST/Touch/" is asked when no server turns up for long
    // Not from the profile's feed keys: the version this executable was installed as by an
    // upgrade, when that is newer than its own (installed_release.h); 0 otherwise.
    std::uint32_t installedVersion = 0;
    bool operator==(const FeedConfig&) const = default;
};

struct FeedConfigOverrides {
    std::optional<std::string> feedUrl;
    std::optional<std::string> fallbackFeedUrl;
    std::optional<std::string> touchHost;
};

FeedConfig defaultFeedConfig();

// An empty profile value or override leaves the value below it in place, so that a blank key
// cannot leave the copy without a feed.
FeedConfig resolveFeedConfig(const ProfileStore& profile, const FeedConfigOverrides& overrides);

} // namespace vandry
