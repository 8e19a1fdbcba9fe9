#pragma once
// UploadPacer: holds the block answers of all links of one copy to the upload limit. A token
// bucket on the millisecond tick: it fills at the limit and holds about a quarter second of it,
// but never less than one answer of the most blocks, so that every answer can go eventually. The limit
// is read at every call, so a change (the settings slider) takes effect at once.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/clock.h"

namespace vandry {

class UploadPacer {
public:
    // Bytes per second; a value of 0 or below, or no function, is unlimited.
    using Limit = std::function<int()>;

    UploadPacer(const Clock& clock, Limit limit);

    // Zero when `bytes` may go now (they are counted against the limit); otherwise how long to
    // wait before asking again. More bytes than the bucket holds count as a full bucket.
    std::chrono::milliseconds delayFor(std::size_t bytes);

private:
    void refill(std::int64_t limit, std::int64_t capacity);

    const Clock& clock_;
    Limit limit_;
    std::uint32_t lastTick_;
    // In thousandths of a byte, so that a millisecond at the limit adds exactly `limit`.
    std::int64_t tokens_;
};

} // namespace vandry
