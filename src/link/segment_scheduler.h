#pragma once
// The segment scheduler: which range of blocks a receiving link fetches next from its sharer,
// given the map the sharer advertised. Several links may write one file; they never start on a
// range another link holds, and split a busy link's range when nothing else is left:
//   - the first block range the sharer has, this side lacks and no other link holds (a range
//     longer than 65536 blocks is cut to 32768);
//   - else the upper half of the part of the busiest link's range to the same sharer that it has
//     not asked for yet, if that half has at least 4 blocks;
//   - else a range not yet fetched or asked for longer than 16 blocks, from its middle when
//     another link holds its start (that link's range then ends there).

#include <cstdint>
#include <span>
#include <string>

#include "common/bytes.h"
#include "common/identity.h"
#include "link/file_stream.h"
#include "link/link_socket.h"

namespace vandry {

inline constexpr std::uint32_t kFreshRangeLimit = 65536;
inline constexpr std::uint32_t kFreshRangeCut = 32768;
inline constexpr std::uint32_t kTakeoverMinimum = 16;
inline constexpr std::uint32_t kSplitMinimum = 4;

// A link as the scheduler sees it: its stream, the sharer it fetches from, its slot.
struct ScheduledLink {
    FileStream* stream = nullptr;
    HostIdentity sharer{};
    LinkIndex index{};
};

enum class ScheduleResult : int {
    Fetch = 0,        // the link's range is set: ask for its first blocks
    SharerDone = 1,   // nothing more to fetch from this sharer
    FileComplete = 2, // every block is present
    InvalidMap = 3,   // the sharer's map is malformed, or the link does not write a file
};

struct ScheduleOutcome {
    ScheduleResult result = ScheduleResult::InvalidMap;
    std::string logText; // the event-log line of a takeover; empty otherwise
};

// `sharerMap` is the payload of the sharer's map answer: u32 boundaries, start and end of each
// range; at most 128 count. `others` may hold any links: only those writing the same file count.
// Sets self's range and peer map, and may shorten other links' ranges.
ScheduleOutcome scheduleSegment(const ScheduledLink& self, std::span<const ScheduledLink> others, ByteSpan sharerMap);

} // namespace vandry
