#pragma once
// The ranges of a connection's incoming stream received so far, as offsets relative to the
// first byte not yet delivered: sorted, disjoint, half-open, and at most 32 of them, so that a
// peer sending scattered pieces cannot make the table grow.

#include <array>
#include <cstddef>
#include <cstdint>

namespace vandry {

class ReceiveRanges {
public:
    static constexpr std::size_t kMaxRanges = 32;

    struct Range {
        std::uint32_t start = 0;
        std::uint32_t end = 0;
    };

    // Adds [start, end), merged with every range it overlaps or touches. False, and nothing
    // changes, when the range is empty or would need a range beyond the bound.
    bool add(std::uint32_t start, std::uint32_t end);
    // The end of the data contiguous from offset 0, or 0 when offset 0 is missing.
    std::uint32_t contiguousEnd() const { return count_ > 0 && ranges_[0].start == 0 ? ranges_[0].end : 0; }
    // Drops the first `count` bytes of the contiguous data (count <= contiguousEnd()) and
    // renumbers the rest from there.
    void consume(std::uint32_t count);
    void clear() { count_ = 0; }
    std::size_t size() const { return count_; }
    const Range& operator[](std::size_t i) const { return ranges_[i]; }

private:
    std::array<Range, kMaxRanges> ranges_{};
    std::size_t count_ = 0;
};

} // namespace vandry
