#pragma once
// ResumeTrailer: the resume state a partially received file carries in its last 576 bytes,
// written when the last writing stream of the file closes. Little-endian:
//     0  u16  568
//     2  u16  0
//     4  u32  0x00C6D300
//     8  32   digest text (FileInfoBlock bytes 0-31)
//    40  u64  file size
//    48  u32  block count
//    52  u16  0
//    54  s16  map count (boundaries)
//    56  512  map boundaries, 128 x u32; those beyond the count are 0
//   568  u16  576
//   570  u16  0
//   572  u32  0x00C6D300
// A trailer is valid when both markers and both lengths match and the block count is
// ceil(size / 1024) in 32 bits; anything else is no trailer. A valid trailer whose map is not a
// canonical map inside the file (negative or odd count, unordered boundaries, blocks beyond the
// block count) reads as an empty map: the file is partial and nothing of it is trusted.
//
// The trailer is a fallback: the resume record kept outside the file (resume_store.h) wins.

#include <array>
#include <cstdint>
#include <optional>

#include "common/bytes.h"
#include "link/block_map.h"
#include "link/file_info_block.h"

namespace vandry {

inline constexpr std::size_t kTrailerSize = 576;

struct ResumeTrailer {
    FileInfoBlock info; // digest text, marker, size and block count; the rest zero
    BlockMap map;
    bool operator==(const ResumeTrailer&) const = default;
};

std::array<std::uint8_t, kTrailerSize> encodeResumeTrailer(const FileInfoBlock& info, const BlockMap& map);
// `tail` is what was read from the last 576 bytes of the file; anything shorter is no trailer.
std::optional<ResumeTrailer> parseResumeTrailer(ByteSpan tail);

struct TrailerPlacement {
    std::uint64_t offset = 0; // where the 576 bytes go
    BlockMap map;             // the map to store, with the blocks the trailer overwrites given up
};

// Where the trailer of a file now `length` bytes long goes, e being the byte end of the last
// present range:
//   length - e >= 576         over the last 576 bytes (they lie beyond every present block);
//   length + 576 <= size      appended at the end;
//   otherwise                 over the last 576 bytes, giving up the present blocks they touch.
// The file thus never grows beyond its final size. Blocks the map claims beyond the file's end
// are dropped first: they hold no data. Nothing when the file is shorter than 576 bytes and no
// trailer fits below the final size.
std::optional<TrailerPlacement> placeTrailer(std::uint64_t length, const FileInfoBlock& info, BlockMap map);

} // namespace vandry
