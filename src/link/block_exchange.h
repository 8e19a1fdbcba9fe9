#pragma once
// The block exchange of one file over a link, apart from the frames: what a sharer advertises,
// how it reads a data request, and how a receiver writes a data answer into its range.

#include <cstdint>

#include "common/bytes.h"
#include "link/block_map.h"
#include "link/file_stream.h"

namespace vandry {

// The blocks a sharer offers: its entry's map and the blocks every writer of the entry has
// fetched but not yet merged into it, so that a file still arriving is served as it arrives.
BlockMap advertisedMap(const FileStream& stream, const OpenStreams& streams);

// Reads the blocks a data request asks for (1 to 63; a request for more is refused), only those
// of the advertised map from `block` on without a gap, into `into`; 0 when refused, when `block`
// is not held or when nothing could be read.
std::size_t readBlocks(const FileStream& stream, const OpenStreams& streams, std::uint32_t block, std::uint8_t count,
                       MutableByteSpan into);

enum class WriteResult {
    RangeDone, // the range is flushed into the map: exchange maps for the next one
    Continue,  // ask for the blocks at the advanced position
    Failed,    // outside the range, not what was asked for, or the write failed
};

// Writes a data answer for `block` into the link's range. The answer must be for the block the
// link asked for (its position): blocks are claimed only once written, and bytes past the range's
// end are dropped. On success the position,
// `block` and the entry's progress counter advance by the whole blocks written.
WriteResult writeBlocks(FileStream& stream, std::uint32_t& block, ByteSpan data);

} // namespace vandry
