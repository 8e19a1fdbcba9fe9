#include "link/block_exchange.h"

#include <algorithm>

#include "link/frame.h"

namespace vandry {

BlockMap advertisedMap(const FileStream& stream, const OpenStreams& streams)
{
    const StreamEntry* entry = stream.entry();
    if (!entry)
        return {};
    BlockMap advertised = entry->map;
    streams.forEachStream([&](const FileStream& other) {
        const FetchRange& range = other.range();
        if (other.writes() && stream.sharesEntryWith(other) && range.position > range.start &&
            range.position <= entry->info.blockCount)
            advertised.addRange(range.start, range.position);
    });
    return advertised;
}

std::size_t readBlocks(const FileStream& stream, const OpenStreams& streams, std::uint32_t block, std::uint8_t count,
                       MutableByteSpan into)
{
    const StreamEntry* entry = stream.entry();
    if (!entry || block >= entry->info.blockCount || count == 0 || count > kMaxBlocksPerRequest)
        return 0;
    // Past the blocks held, a partial file holds zeros or its trailer: never send those.
    const std::uint32_t held = advertisedMap(stream, streams).runFrom(block);
    const std::uint32_t blocks = std::min<std::uint32_t>(count, held);
    return blocks == 0 ? 0 : stream.readAt(block, blocks, into);
}

WriteResult writeBlocks(FileStream& stream, std::uint32_t& block, ByteSpan data)
{
    FetchRange& range = stream.range();
    StreamEntry* entry = stream.entry();
    if (!entry || !stream.writes())
        return WriteResult::Failed;
    if (block < range.start) {
        if (block >= range.end)
            return WriteResult::Failed;
        // Another link took part of this range meanwhile: keep what was fetched, choose anew.
        stream.flushRange();
        return WriteResult::RangeDone;
    }
    if (block >= range.end || block != range.position)
        return WriteResult::Failed;
    // A sharer may send more than the range: blocks outside it were not asked of this sharer and
    // may be ones it does not hold.
    data = data.first(
        static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), std::uint64_t{range.end - block} * kBlockSize)));
    if (data.empty() || !stream.writeAt(block, data))
        return WriteResult::Failed;
    const auto written = static_cast<std::uint32_t>((data.size() + kBlockSize - 1) / kBlockSize);
    entry->receivedKb += written;
    block += written;
    range.position = block;
    if (block >= range.end) {
        stream.flushRange();
        return WriteResult::RangeDone;
    }
    return WriteResult::Continue;
}

} // namespace vandry
