#pragma once
// The answer block of a share query, as a neighbour answers a search (a type 6 reply of kind 0):
//    0 u16 offset of the data (68)   3 u8 length of the sharer's base path text
//    4 u16 F, length of the file part   6 u16 D, length of the folder part
//    8 the replier's HostRecord (60)
//   68 file names (F + 2)   70 + F file records (F + 2)
//   72 + 2F folder names (D + 2)   74 + 2F + D folder records (D + 2)
// In each part the entries lie back to back as in the share name index (store/share_index_records.h);
// parent positions are positions in the folder part, and a folder's mark says why it is there:
// 1 matched, 2 subfolder of a matched folder, 3 ancestor of one.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "discovery/host_record.h"

namespace vandry {

struct AnswerFolder {
    std::string name; // trailing padding removed
    int parent = -1;  // index into SearchAnswer::folders, -1 for none
    std::uint8_t fileCount = 0;
    std::uint8_t mark = 0;
};

struct AnswerFile {
    std::string name;       // trailing padding removed
    std::size_t parent = 0; // index into SearchAnswer::folders
    std::uint32_t size = 0;
};

struct SearchAnswer {
    std::uint8_t baseLength = 0; // byte 3
    HostRecord host;
    std::vector<AnswerFolder> folders; // answer order
    std::vector<AnswerFile> files;     // answer order
};

// nullopt when the areas do not fit the payload, an entry's stride is too short for its record
// or runs past its part, or a parent position names no folder entry or the parents form a loop.
std::optional<SearchAnswer> parseSearchAnswer(ByteSpan payload);

} // namespace vandry
