#pragma once
// ReplyBudget: caps the bytes of answers to neighbours' requests (search, browse, source lookup)
// that this copy sends, to each destination and in all. A search answer can be hundreds of times
// larger than its request and UDP sources can be forged, so without a cap anyone could aim this
// copy's answers at a third party. Each cap is a token bucket: an answer goes out while its
// bucket is not empty and is then charged in full, so a bucket may go below zero.

#include <array>
#include <cstdint>

#include "common/ipv4.h"

namespace vandry {

class ReplyBudget {
public:
    static constexpr std::int64_t kDestinationBytesPerSecond = 64 * 1024;
    static constexpr std::int64_t kDestinationBurst = 256 * 1024;
    static constexpr std::int64_t kTotalBytesPerSecond = 1024 * 1024;
    static constexpr std::int64_t kTotalBurst = 4 * 1024 * 1024;
    static constexpr std::size_t kDestinations = 256;

    // True when an answer may go to `destination` now; it is then charged `bytes`.
    bool take(Ipv4 destination, std::size_t bytes, std::uint32_t nowMs);

private:
    struct Bucket {
        Ipv4 address = 0;
        std::int64_t tokens = 0;
        std::uint32_t lastMs = 0;
        bool used = false;
    };
    Bucket& bucketFor(Ipv4 destination, std::uint32_t nowMs);

    Bucket total_;
    std::array<Bucket, kDestinations> destinations_{};
};

} // namespace vandry
