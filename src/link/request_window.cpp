#include "link/request_window.h"

#include <algorithm>

#include "link/file_info_block.h"

namespace vandry {

void RequestWindow::reset()
{
    *this = RequestWindow{};
}

bool RequestWindow::hasRoom() const
{
    if (!inOrder_)
        return pending_.empty();
    return bytesInFlight_ < limit_;
}

void RequestWindow::sent(std::uint32_t block, std::uint8_t count, std::uint32_t nowMs)
{
    pending_.push_back({block, count, nowMs, false});
    bytesInFlight_ += std::size_t{count} * kBlockSize;
}

std::optional<PendingRequest> RequestWindow::answered(std::size_t bytes, std::uint32_t nowMs)
{
    if (pending_.empty())
        return std::nullopt;
    const PendingRequest oldest = pending_.front();
    pending_.pop_front();
    bytesInFlight_ -= std::size_t{oldest.count} * kBlockSize;
    if (!oldest.stale) {
        // Tick arithmetic wraps, as the tick does.
        const std::uint32_t rtt = nowMs - oldest.sentMs;
        minRttMs_ = std::min(minRttMs_.value_or(rtt), rtt);
        recent_.push_back({nowMs, bytes});
        recentBytes_ += bytes;
        updateLimit(nowMs);
    }
    return oldest;
}

void RequestWindow::markStale()
{
    for (auto& request : pending_)
        request.stale = true;
}

// Twice the rate times the round trip is what arrived in the last two round trips.
void RequestWindow::updateLimit(std::uint32_t nowMs)
{
    const std::uint32_t horizon = 2 * std::max<std::uint32_t>(*minRttMs_, 1);
    while (!recent_.empty() && nowMs - recent_.front().atMs > horizon) {
        recentBytes_ -= recent_.front().bytes;
        recent_.pop_front();
    }
    limit_ = std::clamp(recentBytes_, kMinBytes, kMaxBytes);
}

} // namespace vandry
