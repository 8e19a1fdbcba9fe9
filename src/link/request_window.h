#pragma once
// RequestWindow: the data requests a requester has in flight on one link, oldest first, and how
// many bytes it may keep asked for.
//
// A sharer that answers requests in order lets the requester keep several in flight, so that a
// long path stays full. The window is what the link delivers (averaged over the last 100 ms, or
// two round trips when longer) in two round trips, and at least in kStallCoverMs: a lost packet
// of the request stream can hold the requests back for a retransmission timeout (200 ms and
// more), and the sharer must not run dry meanwhile. While the window is what limits the rate it
// grows many times each round trip; it stays between kMinBytes and kMaxBytes, so a slow sharer
// holds only a little of the file that a faster one could take over. A sharer that does not say
// it answers in order gets one request at a time.
//
// Requests made for a range that has ended (its end reached, or cut by another link) are marked
// stale: their answers still arrive, in order, and are dropped. In a folder download the newest
// requests may belong to files asked for ahead of the current one: they are kept out of that.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace vandry {

struct PendingRequest {
    std::uint32_t block = 0;
    std::uint8_t count = 0;
    std::uint32_t sentMs = 0;
    bool stale = false;
};

class RequestWindow {
public:
    static constexpr std::size_t kMinBytes = 256 * 1024;
    static constexpr std::size_t kMaxBytes = 16 * 1024 * 1024;
    static constexpr std::uint32_t kStallCoverMs = 250;
    static constexpr std::uint32_t kRateHorizonMs = 100;

    // A new conversation: nothing in flight, the sharer's order unknown, no estimate.
    void reset();
    void setSharerAnswersInOrder(bool inOrder) { inOrder_ = inOrder; }
    bool sharerAnswersInOrder() const { return inOrder_; }

    // Whether another request may go now.
    bool hasRoom() const;
    void sent(std::uint32_t block, std::uint8_t count, std::uint32_t nowMs);
    // The oldest request, which an answer of `bytes` has just met; nothing when none is in flight.
    std::optional<PendingRequest> answered(std::size_t bytes, std::uint32_t nowMs);
    // Answers to what is in flight now will be dropped, but for the newest `keepNewest` requests.
    void markStale(std::size_t keepNewest = 0);
    // The oldest `count` requests will never be answered: a sharer drops what was asked about a
    // file it refused.
    void forgetOldest(std::size_t count);
    // Whether the next answer to come is one to drop.
    bool nextAnswerIsStale() const { return !pending_.empty() && pending_.front().stale; }

    std::size_t inFlight() const { return pending_.size(); }
    std::size_t bytesInFlight() const { return bytesInFlight_; }
    // The bytes this link may keep asked for.
    std::size_t limitBytes() const { return limit_; }

private:
    struct Delivery {
        std::uint32_t atMs;
        std::size_t bytes;
    };
    void updateLimit(std::uint32_t nowMs);

    std::deque<PendingRequest> pending_;
    std::size_t bytesInFlight_ = 0;
    bool inOrder_ = false;
    std::optional<std::uint32_t> minRttMs_;
    // Answers within the rate horizon.
    std::deque<Delivery> recent_;
    std::size_t recentBytes_ = 0;
    std::size_t limit_ = kMinBytes;
};

} // namespace vandry
