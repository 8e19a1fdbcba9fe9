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

std::size_t readBlocks(const FileStream& stream, std::uint32_t block, std::uint8_t count, MutableByteSpan into)
{
    const StreamEntry* entry = stream.entry();
    if (!entry || block >= entry->info.blockCount)
        return 0;
    const std::uint32_t blocks = std::min(count, kBlocksPerRequest);
    return stream.readAt(block, blocks, into);
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
    if (block >= range.end || block != range.position || data.empty() || !stream.writeAt(block, data))
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
