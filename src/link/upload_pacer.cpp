#include "link/upload_pacer.h"

#include <algorithm>
#include <limits>

#include "link/file_info_block.h"
#include "link/frame.h"

namespace vandry {

namespace {
constexpr std::int64_t kAnswerBytes = std::int64_t{kMaxBlocksPerRequest} * kBlockSize;
constexpr std::int64_t kMilli = 1000;
// An idle or unlimited bucket is full whatever the next limit.
constexpr std::int64_t kFull = std::numeric_limits<std::int64_t>::max();

// A quarter second at the limit, but at least one answer of the most blocks.
std::int64_t capacityFor(std::int64_t limit)
{
    return std::max(limit / 4, kAnswerBytes) * kMilli;
}
} // namespace

UploadPacer::UploadPacer(const Clock& clock, Limit limit)
    : clock_(clock), limit_(std::move(limit)), lastTick_(clock.tickMs()), tokens_(kFull)
{
}

std::chrono::milliseconds UploadPacer::delayFor(std::size_t bytes)
{
    const std::int64_t limit = limit_ ? limit_() : 0;
    if (limit <= 0) {
        lastTick_ = clock_.tickMs();
        tokens_ = kFull;
        return std::chrono::milliseconds{0};
    }
    const std::int64_t capacity = capacityFor(limit);
    refill(limit, capacity);
    const std::int64_t cost =
        bytes >= static_cast<std::size_t>(capacity / kMilli) ? capacity : static_cast<std::int64_t>(bytes) * kMilli;
    if (tokens_ >= cost) {
        tokens_ -= cost;
        return std::chrono::milliseconds{0};
    }
    // Each millisecond adds `limit` thousandths of a byte: round the wait up.
    return std::chrono::milliseconds{(cost - tokens_ + limit - 1) / limit};
}

void UploadPacer::refill(std::int64_t limit, std::int64_t capacity)
{
    const std::uint32_t now = clock_.tickMs();
    // Unsigned difference: correct across the tick's wrap. The product stays below 2^63.
    const std::uint64_t added = std::uint64_t{now - lastTick_} * static_cast<std::uint64_t>(limit);
    lastTick_ = now;
    if (tokens_ >= capacity || added >= static_cast<std::uint64_t>(capacity - tokens_))
        tokens_ = capacity;
    else
        tokens_ += static_cast<std::int64_t>(added);
}

} // namespace vandry
