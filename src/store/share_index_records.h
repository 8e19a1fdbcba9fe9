#pragma once
// The entries of the share name index, as they sit in the index and, copied, in a query answer.
//
// A name text is a run of entries, each starting with "|" followed by the lowercase name padded
// with spaces to at least 4 bytes (folders) or 7 bytes (files); a final "|" closes the text. An
// entry's stride is its padded name length + 1, so the next entry starts at position + stride.
// Each text has a record array of the same length; the record of the entry at p sits at p:
//
//   folder  byte p       stride
//           u32 at p+1   bits 0-21 parent folder position (all ones: none), bits 22-29 number
//                        of files directly inside (modulo 256), bits 30-31 the answer's mark
//   file    u32 at p     bits 0-7 stride, bits 8-31 parent folder position
//           u32 at p+4   size (low 32 bits)
//
// The rest of a record's stride is zero. Names longer than 254 bytes have no entry, nor names
// holding "|" (it would split the entry) or "\" (no wire path could name them).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace vandry {

inline constexpr char kEntryBar = '|';
inline constexpr std::size_t kMinFolderName = 4;
inline constexpr std::size_t kMinFileName = 7;
inline constexpr std::size_t kMaxIndexedName = 254; // the stride must fit one byte
inline constexpr std::size_t kFolderRecordSize = 5;
inline constexpr std::size_t kFileRecordSize = 8;
inline constexpr std::uint32_t kNoParentFolder = 0x3FFFFF; // all ones of the 22-bit field

enum FolderMark : std::uint8_t { kUnmarked = 0, kMarkMatched = 1, kMarkSubfolder = 2, kMarkAncestor = 3 };

struct FolderRecord {
    std::uint8_t stride = 0;
    std::uint32_t parent = kNoParentFolder;
    std::uint8_t fileCount = 0;
    std::uint8_t mark = kUnmarked;
};

struct FileRecord {
    std::uint8_t stride = 0;
    std::uint32_t parent = 0;
    std::uint32_t size = 0;
};

// Positions are checked by the caller: a folder record needs 5 bytes from `at`, a file record 8.
inline std::uint32_t loadRecordWord(ByteSpan records, std::size_t at)
{
    return std::uint32_t{records[at]} | (std::uint32_t{records[at + 1]} << 8) | (std::uint32_t{records[at + 2]} << 16) |
           (std::uint32_t{records[at + 3]} << 24);
}

inline void storeRecordWord(MutableByteSpan records, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        records[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline FolderRecord readFolderRecord(ByteSpan records, std::size_t at)
{
    const std::uint32_t word = loadRecordWord(records, at + 1);
    return {records[at], word & kNoParentFolder, static_cast<std::uint8_t>(word >> 22),
            static_cast<std::uint8_t>(word >> 30)};
}

inline void writeFolderRecord(MutableByteSpan records, std::size_t at, const FolderRecord& record)
{
    records[at] = record.stride;
    storeRecordWord(records, at + 1,
                    (record.parent & kNoParentFolder) | (std::uint32_t{record.fileCount} << 22) |
                        (std::uint32_t{record.mark & 3u} << 30));
}

inline FileRecord readFileRecord(ByteSpan records, std::size_t at)
{
    const std::uint32_t word = loadRecordWord(records, at);
    return {static_cast<std::uint8_t>(word), word >> 8, loadRecordWord(records, at + 4)};
}

inline void writeFileRecord(MutableByteSpan records, std::size_t at, const FileRecord& record)
{
    storeRecordWord(records, at, record.stride | (record.parent << 8));
    storeRecordWord(records, at + 4, record.size);
}

// Names and query texts compare by ASCII lowercase; bytes of UTF-8 sequences stay as they are.
inline std::string lowercaseAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

} // namespace vandry
