#pragma once
// The feed worker's logic: a ten-second tick that asks the update feed while no rendezvous
// server is known, the checks themselves, applying their server list (or falling back to a
// second feed), the one-off usage report ("touch") and the version test.
//
// Everything runs on the owner's thread. Work that the worker hands to itself is kept as a
// queue of pending steps, in the order it was queued; the owner is told when a step is queued
// and runs them with runNextStep(), one at a time, never from inside another step.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_settings.h"
#include "common/identity.h"
#include "common/ipv4.h"
#include "update/feed_answer.h"
#include "update/feed_config.h"

namespace vandry {

inline constexpr std::chrono::milliseconds kFeedTickPeriod{10'000};
inline constexpr std::uint32_t kUpgradePromptTimeLimitMs = 300'000;
// Low four bits of a check's flags: 5 for a fallback feed; the high four are carried over.
inline constexpr std::uint32_t kFallbackCheckFlags = 5;
// Refer (or fallback) hops followed at most from one check.
inline constexpr int kMaxReferHops = 3;
// Discovery asks for one more check with these flags when a server sends a list.
inline constexpr std::uint32_t kServerListCheckFlags = 1;

// A synchronous HTTP POST with a form-encoded body: the answer text on status 200, nullopt on
// any other status or failure.
class HttpPoster {
public:
    virtual ~HttpPoster() = default;
    virtual std::optional<std::string> post(const std::string& url, const std::string& body) = 0;
};

class HostResolver {
public:
    virtual ~HostResolver() = default;
    // The first IPv4 address of `host`, or nullopt when it does not resolve.
    virtual std::optional<Ipv4> firstIpv4(const std::string& host) = 0;
};

// What the version test found: a newer version whose file can be fetched.
struct UpgradeOffer {
    std::string pageUrl; // "UpURL", or the maker's help page when the feed gave none
    std::string fileUrl; // "UpFile"
    std::uint32_t localVersion = 0;
    std::uint32_t version = 0; // the feed's version of the release
    std::uint32_t timeLimitMs = kUpgradePromptTimeLimitMs;
    bool automatic = false; // "F": download without asking
    bool operator==(const UpgradeOffer&) const = default;
};

// The worker's messages to itself, numbered as the product's thread messages.
enum class FeedStepKind : std::uint16_t {
    Check = 0x7D0,      // ask the current feed address
    Apply = 0x7D1,      // apply the feed result: the server list or a fallback feed
    StartProbe = 0x7D2, // start the server probe
    Touch = 0x7D3,      // send the usage report
};

struct FeedStep {
    FeedStepKind kind = FeedStepKind::Check;
    std::uint32_t flags = 0;
    bool operator==(const FeedStep&) const = default;
};

class UpdateChecker {
public:
    struct Hooks {
        std::function<void()> startProbe;
        std::function<bool()> probeRunning; // none: never running
        std::function<void(const UpgradeOffer&)> upgradeAvailable;
        std::function<void()> stepQueued;   // call runNextStep() later
        std::function<void()> restartTimer; // re-arm the ten-second tick
    };

    // `identity` is the local copy's: its text goes into every request and bytes 0-3 (a
    // little-endian u32) are the running version.
    UpdateChecker(FeedConfig config, const HostIdentity& identity, ServerList& servers, HttpPoster& http,
                  HostResolver& resolver, Hooks hooks);

    // The ten-second tick; a tick arriving while one is being handled is ignored.
    void tick();
    // Makes `url` (the default feed when empty) the current feed address, queues a check with
    // `flags` and restarts the timer.
    void check(std::string_view url, std::uint32_t flags);
    // Queues a check of the current feed address as it stands, as discovery asks for one.
    void queueCheck(std::uint32_t flags);

    // Runs the oldest pending step; false when there was none.
    bool runNextStep();

    const std::deque<FeedStep>& pendingSteps() const { return pending_; }
    int tickCounter() const { return ticks_; }
    // "Link|Refer" of the last answer ("|" after a failed POST).
    const std::string& feedResult() const { return feedResult_; }
    const std::string& currentFeedUrl() const { return currentFeedUrl_; }

private:
    void queue(FeedStep step);
    void checkFeed(std::string_view url, std::uint32_t flags);
    void checkTouchHost();
    void runCheck(std::uint32_t flags);
    void applyFeedResult(std::uint32_t flags);
    void sendTouchReport();
    void offerUpgrade(const FeedAnswer& answer);

    const FeedConfig config_;
    const std::string identityText_;
    const std::uint32_t localVersion_;
    ServerList& servers_;
    HttpPoster& http_;
    HostResolver& resolver_;
    Hooks hooks_;

    std::deque<FeedStep> pending_;
    std::string currentFeedUrl_;
    std::string feedResult_;
    std::string touchUrl_;
    bool busy_ = false;
    int ticks_ = 0;
    int referHops_ = 0; // hops followed since the check that started the chain
    // Failed reports so far; -1 once one succeeded. One checker per running copy.
    std::int8_t touchAttempts_ = 0;
};

} // namespace vandry
