#include "update/update_checker.h"

#include <algorithm>

#include "common/version.h"

namespace vandry {

namespace {

std::uint32_t versionOf(const HostIdentity& identity)
{
    return static_cast<std::uint32_t>(identity[0]) | static_cast<std::uint32_t>(identity[1]) << 8 |
           static_cast<std::uint32_t>(identity[2]) << 16 | static_cast<std::uint32_t>(identity[3]) << 24;
}

// While no server is known: checks at ticks 1-4, then every second tick below 15, every third
// below 30.
bool isCheckTick(int n)
{
    return n < 5 || (n < 15 && n % 2 == 0) || (n < 30 && n % 3 == 0);
}

// The touch-host check moves the counter to 31, so it recurs when the counter reaches 60,
// 29 ticks later.
constexpr int kFirstTouchHostTick = 30;
constexpr int kRepeatTouchHostTick = 60;
constexpr int kAfterTouchHostTick = 31;

// A touch host answering with loopback or from 60.0.0.0/8 is not the deployed one: skip it.
bool isUsableTouchHost(Ipv4 address)
{
    const auto first = address >> 24;
    return first != 127 && first != 60;
}

} // namespace

UpdateChecker::UpdateChecker(FeedConfig config, const HostIdentity& identity, ServerList& servers, HttpPoster& http,
                             HostResolver& resolver, Hooks hooks)
    : config_(std::move(config)), identityText_(identityText(identity)),
      localVersion_(std::max(versionOf(identity), config_.installedVersion)), servers_(servers), http_(http),
      resolver_(resolver), hooks_(std::move(hooks)), currentFeedUrl_(config_.feedUrl)
{
}

void UpdateChecker::tick()
{
    if (busy_)
        return;
    busy_ = true;
    if (!(hooks_.probeRunning && hooks_.probeRunning())) {
        if (servers_.best() < 0) {
            ++ticks_;
            if (isCheckTick(ticks_))
                check({}, 0);
            else if (ticks_ == kFirstTouchHostTick || ticks_ == kRepeatTouchHostTick)
                checkTouchHost();
        } else {
            ticks_ = 0;
        }
    }
    busy_ = false;
}

void UpdateChecker::check(std::string_view url, std::uint32_t flags)
{
    referHops_ = 0;
    checkFeed(url, flags);
}

void UpdateChecker::queueCheck(std::uint32_t flags)
{
    referHops_ = 0;
    queue({FeedStepKind::Check, flags});
}

void UpdateChecker::checkFeed(std::string_view url, std::uint32_t flags)
{
    currentFeedUrl_ = url.empty() ? config_.feedUrl : std::string(url);
    queue({FeedStepKind::Check, flags});
    if (hooks_.restartTimer)
        hooks_.restartTimer();
}

bool UpdateChecker::runNextStep()
{
    if (pending_.empty())
        return false;
    const FeedStep step = pending_.front();
    pending_.pop_front();
    switch (step.kind) {
    case FeedStepKind::Check:
        runCheck(step.flags);
        break;
    case FeedStepKind::Apply:
        applyFeedResult(step.flags);
        break;
    case FeedStepKind::StartProbe:
        if (hooks_.startProbe)
            hooks_.startProbe();
        break;
    case FeedStepKind::Touch:
        sendTouchReport();
        break;
    }
    return true;
}

void UpdateChecker::queue(FeedStep step)
{
    pending_.push_back(step);
    if (hooks_.stepQueued)
        hooks_.stepQueued();
}

void UpdateChecker::checkTouchHost()
{
    ticks_ = kAfterTouchHostTick;
    const auto address = resolver_.firstIpv4(config_.touchHost);
    if (address && isUsableTouchHost(*address))
        check("http://" + config_.touchHost + "/Touch/", 0);
}

void UpdateChecker::runCheck(std::uint32_t flags)
{
    const auto text = http_.post(currentFeedUrl_, checkRequestBody(identityText_, flags));
    const FeedAnswer answer = text ? parseFeedAnswer(*text) : FeedAnswer{};
    feedResult_ = answer.link + "|" + answer.refer;
    queue({FeedStepKind::Apply, flags});
    if (!answer.touch.empty()) {
        touchUrl_ = answer.touch;
        queue({FeedStepKind::Touch, 0});
    }
    offerUpgrade(answer);
}

void UpdateChecker::applyFeedResult(std::uint32_t flags)
{
    // Split like the stored text was made; a "|" inside Link shifts what reads as Refer.
    const std::string_view result = feedResult_;
    const auto bar = result.find('|');
    const std::string link(result.substr(0, bar));
    std::string refer;
    if (bar != std::string_view::npos) {
        const auto rest = result.substr(bar + 1);
        refer = rest.substr(0, rest.find('|'));
    }

    if (!link.empty()) {
        servers_.clearAddresses();
        const auto items = parseServerLink(link);
        for (std::size_t k = 0; k < items.size(); ++k)
            servers_.setEntry(k, items[k].address, items[k].port);
        queue({FeedStepKind::StartProbe, 0});
        return;
    }
    if (refer.empty() && (flags & 0x0F) == 0)
        refer = config_.fallbackFeedUrl;
    // A feed that refers to itself, or a ring of feeds, would be asked again without pause:
    // a chain ends after a few hops like a feed without a fallback.
    if (!refer.empty() && referHops_ < kMaxReferHops) {
        ++referHops_;
        checkFeed(refer, (flags & 0xF0) + kFallbackCheckFlags);
    } else {
        queue({FeedStepKind::StartProbe, 0});
    }
}

void UpdateChecker::sendTouchReport()
{
    constexpr std::int8_t kMaxTouchFailures = 3;
    if (touchAttempts_ < 0 || touchAttempts_ >= kMaxTouchFailures)
        return;
    const bool sent = http_.post(touchUrl_, touchRequestBody(identityText_)).has_value();
    touchAttempts_ = sent ? std::int8_t{-1} : static_cast<std::int8_t>(touchAttempts_ + 1);
}

void UpdateChecker::offerUpgrade(const FeedAnswer& answer)
{
    if (parseVersion(answer.version) <= localVersion_ || !answer.fileUrl.starts_with('h'))
        return;
    if (!hooks_.upgradeAvailable)
        return;
    UpgradeOffer offer;
    offer.pageUrl = answer.pageUrl.empty() ? std::string(kHelpPageUrl) : answer.pageUrl;
    offer.fileUrl = answer.fileUrl;
    offer.localVersion = localVersion_;
    offer.version = parseVersion(answer.version);
    offer.automatic = parseAutomaticFlag(answer.automatic);
    hooks_.upgradeAvailable(offer);
}

} // namespace vandry
