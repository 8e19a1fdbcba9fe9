#pragma once
// ResumeRecord: what a partially received file holds, kept outside the file (resume_store.h).
// One file per record, little-endian:
//        0  4    "VRsm" (56 52 73 6D)
//        4  u16  format version, 1
//        6  u16  path length n, 1 to 4096
//        8  n    full local path of the file, no terminator
//      8+n  56   FileInfoBlock; block count = ceil(size / 1024), not 0
//     64+n  u16  map count c (boundaries): even, at most 128
//     66+n  4c   map boundaries, u32, canonical (block_map.h), the last at most the block count
//  66+n+4c  16   MD5 of every byte before it
// A file that is shorter or longer, or fails any of these, is damaged.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "link/block_map.h"
#include "link/file_info_block.h"

namespace vandry {

inline constexpr std::size_t kMaxRecordPath = 4096;
// No valid record is longer; the store reads no more than this.
inline constexpr std::size_t kMaxRecordSize =
    8 + kMaxRecordPath + FileInfoBlock::kSize + 2 + 4 * BlockMap::kCapacity + 16;

struct ResumeRecord {
    std::string path;
    FileInfoBlock info;
    BlockMap map; // blocks written and flushed to disk
    bool operator==(const ResumeRecord&) const = default;
};

// Empty when the record cannot be stored (a path that is empty or too long, or an info block
// whose block count does not match its size).
std::vector<std::uint8_t> encodeResumeRecord(const ResumeRecord& record);
std::optional<ResumeRecord> parseResumeRecord(ByteSpan bytes);

} // namespace vandry
