#pragma once
// ShareAnswer: the four parts of a share query's answer, assembled from copies of index entries,
// and the answer block they are written as. Little-endian:
//
//      0      u16  68, the offset of the data
//      2      u8   not written
//      3      u8   length of the share root text ("\home\u\share"); the requester strips that
//                  many characters from the paths it rebuilds (its bit 4 also makes it expand)
//      4      u16  F, length of the file part
//      6      u16  D, length of the folder part
//      8      60   not written (the caller puts its host record here)
//     68      F    file names: the matched file entries, back to back; then two zero bytes
//     70+F    F    their records, each parent now a position within the folder part; two zeros
//     72+2F   D    folder names; two zeros
//     74+2F+D D    folder records, parents renumbered, the folder's mark in bits 30-31; two zeros
//
// The block is 76 + 2F + 2D bytes. Each part stays below 65535 bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "common/bytes.h"

namespace vandry {

inline constexpr std::size_t kAnswerDataOffset = 68;
inline constexpr std::size_t kAnswerFixedSize = kAnswerDataOffset + 4 * 2;
// A part may not reach this many bytes.
inline constexpr std::size_t kAnswerPartLimit = 65535;

class ShareAnswer {
public:
    ShareAnswer();

    void clear();
    std::size_t fileLength() const { return fileNames_.size(); }
    std::size_t folderLength() const { return folderNames_.size(); }
    std::size_t blockSize() const { return kAnswerFixedSize + 2 * (fileLength() + folderLength()); }

    // Appends a file entry (name bytes and record of one stride); false when the part would
    // reach its limit.
    bool addFile(std::string_view entry, ByteSpan record);
    // Appends a folder entry found at `indexPosition`, with its mark; entries come in index order.
    // False when the part would reach its limit.
    bool addFolder(std::uint32_t indexPosition, std::string_view entry, ByteSpan record, std::uint8_t mark);
    // Points every parent field at the parent's place in the folder part. Files whose folder did
    // not fit the folder part are dropped: the requester could not place them.
    void renumberParents();
    // `destination` holds at least blockSize() bytes; bytes 2 and 8-67 are left alone.
    void write(MutableByteSpan destination, std::uint8_t rootTextLength) const;

private:
    std::optional<std::uint32_t> answerPosition(std::uint32_t indexPosition) const;

    std::vector<std::uint8_t> fileNames_;
    std::vector<std::uint8_t> fileRecords_;
    std::vector<std::uint8_t> folderNames_;
    std::vector<std::uint8_t> folderRecords_;
    // Index position -> position in the folder part, ascending.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> folderPositions_;
};

} // namespace vandry
