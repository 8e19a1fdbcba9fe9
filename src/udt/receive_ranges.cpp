#include "udt/receive_ranges.h"

#include <algorithm>

namespace vandry {

bool ReceiveRanges::add(std::uint32_t start, std::uint32_t end)
{
    if (start >= end)
        return false;
    // Ranges before the new one end before it starts; from `first` on they may touch it.
    std::size_t first = 0;
    while (first < count_ && ranges_[first].end < start)
        ++first;
    std::size_t last = first; // one past the last range merged
    while (last < count_ && ranges_[last].start <= end)
        ++last;
    if (first == last) {
        if (count_ == kMaxRanges)
            return false;
        std::copy_backward(ranges_.begin() + first, ranges_.begin() + count_, ranges_.begin() + count_ + 1);
        ranges_[first] = {start, end};
        ++count_;
        return true;
    }
    const Range merged{std::min(start, ranges_[first].start), std::max(end, ranges_[last - 1].end)};
    ranges_[first] = merged;
    std::copy(ranges_.begin() + last, ranges_.begin() + count_, ranges_.begin() + first + 1);
    count_ -= last - first - 1;
    return true;
}

void ReceiveRanges::consume(std::uint32_t count)
{
    count = std::min(count, contiguousEnd());
    if (count == 0)
        return;
    std::size_t from = 0;
    if (ranges_[0].end == count)
        from = 1;
    std::copy(ranges_.begin() + from, ranges_.begin() + count_, ranges_.begin());
    count_ -= from;
    for (std::size_t i = 0; i < count_; ++i) {
        ranges_[i].start = i == 0 && from == 0 ? 0 : ranges_[i].start - count;
        ranges_[i].end -= count;
    }
}

} // namespace vandry
