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

void RequestWindow::markStale(std::size_t keepNewest)
{
    const std::size_t marked = pending_.size() - std::min(keepNewest, pending_.size());
    for (std::size_t i = 0; i < marked; ++i)
        pending_[i].stale = true;
}

void RequestWindow::forgetOldest(std::size_t count)
{
    for (; count > 0 && !pending_.empty(); --count) {
        bytesInFlight_ -= std::size_t{pending_.front().count} * kBlockSize;
        pending_.pop_front();
    }
}

void RequestWindow::updateLimit(std::uint32_t nowMs)
{
    const std::uint32_t rtt = std::max<std::uint32_t>(*minRttMs_, 1);
    const std::uint32_t horizon = std::max(2 * rtt, kRateHorizonMs);
    while (nowMs - recent_.front().atMs > horizon) {
        recentBytes_ -= recent_.front().bytes;
        recent_.pop_front();
    }
    // Over the whole horizon even while it fills: a burst at the start (a sharer's upload budget)
    // must not pass for the path's rate.
    const double bytesPerMs = static_cast<double>(recentBytes_) / horizon;
    const double wanted = bytesPerMs * std::max(2 * rtt, kStallCoverMs);
    limit_ =
        static_cast<std::size_t>(std::clamp(wanted, static_cast<double>(kMinBytes), static_cast<double>(kMaxBytes)));
}

} // namespace vandry
