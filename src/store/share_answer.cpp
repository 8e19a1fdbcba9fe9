#include "store/share_answer.h"

#include <algorithm>

#include "store/share_index_records.h"

namespace vandry {

namespace {
// Each part is a work area reused from query to query.
constexpr std::size_t kWorkAreaSize = 64 * 1024;

void appendEntry(std::vector<std::uint8_t>& names, std::vector<std::uint8_t>& records, std::string_view entry,
                 ByteSpan record)
{
    names.insert(names.end(), entry.begin(), entry.end());
    records.insert(records.end(), record.begin(), record.end());
}

std::size_t writePart(MutableByteSpan destination, std::size_t at, const std::vector<std::uint8_t>& part)
{
    std::copy(part.begin(), part.end(), destination.begin() + static_cast<std::ptrdiff_t>(at));
    at += part.size();
    destination[at] = 0;
    destination[at + 1] = 0;
    return at + 2;
}
} // namespace

ShareAnswer::ShareAnswer()
{
    for (auto* area : {&fileNames_, &fileRecords_, &folderNames_, &folderRecords_})
        area->reserve(kWorkAreaSize);
}

void ShareAnswer::clear()
{
    fileNames_.clear();
    fileRecords_.clear();
    folderNames_.clear();
    folderRecords_.clear();
    folderPositions_.clear();
}

bool ShareAnswer::addFile(std::string_view entry, ByteSpan record)
{
    if (fileNames_.size() + entry.size() >= kAnswerPartLimit)
        return false;
    appendEntry(fileNames_, fileRecords_, entry, record);
    return true;
}

bool ShareAnswer::addFolder(std::uint32_t indexPosition, std::string_view entry, ByteSpan record, std::uint8_t mark)
{
    const std::size_t at = folderNames_.size();
    if (at + entry.size() >= kAnswerPartLimit)
        return false;
    appendEntry(folderNames_, folderRecords_, entry, record);
    auto copied = readFolderRecord(folderRecords_, at);
    copied.mark = mark;
    writeFolderRecord(folderRecords_, at, copied);
    folderPositions_.emplace_back(indexPosition, static_cast<std::uint32_t>(at));
    return true;
}

std::optional<std::uint32_t> ShareAnswer::answerPosition(std::uint32_t indexPosition) const
{
    const auto found = std::lower_bound(folderPositions_.begin(), folderPositions_.end(),
                                        std::pair<std::uint32_t, std::uint32_t>{indexPosition, 0});
    if (found == folderPositions_.end() || found->first != indexPosition)
        return std::nullopt;
    return found->second;
}

void ShareAnswer::renumberParents()
{
    // Strides were checked when the entries were copied from the index.
    for (std::size_t at = 0; at < folderRecords_.size(); at += folderRecords_[at]) {
        auto record = readFolderRecord(folderRecords_, at);
        if (record.parent != kNoParentFolder)
            record.parent = answerPosition(record.parent).value_or(kNoParentFolder);
        writeFolderRecord(folderRecords_, at, record);
    }
    std::size_t kept = 0;
    for (std::size_t at = 0; at < fileRecords_.size();) {
        const std::size_t stride = fileRecords_[at];
        auto record = readFileRecord(fileRecords_, at);
        if (const auto parent = answerPosition(record.parent)) {
            if (kept != at) {
                std::copy_n(fileNames_.begin() + static_cast<std::ptrdiff_t>(at), stride,
                            fileNames_.begin() + static_cast<std::ptrdiff_t>(kept));
                std::copy_n(fileRecords_.begin() + static_cast<std::ptrdiff_t>(at), stride,
                            fileRecords_.begin() + static_cast<std::ptrdiff_t>(kept));
            }
            record.parent = *parent;
            writeFileRecord(fileRecords_, kept, record);
            kept += stride;
        }
        at += stride;
    }
    fileNames_.resize(kept);
    fileRecords_.resize(kept);
}

void ShareAnswer::write(MutableByteSpan destination, std::uint8_t rootTextLength) const
{
    storeU16le(destination, 0, static_cast<std::uint16_t>(kAnswerDataOffset));
    destination[3] = rootTextLength;
    storeU16le(destination, 4, static_cast<std::uint16_t>(fileLength()));
    storeU16le(destination, 6, static_cast<std::uint16_t>(folderLength()));
    std::size_t at = kAnswerDataOffset;
    for (const auto* part : {&fileNames_, &fileRecords_, &folderNames_, &folderRecords_})
        at = writePart(destination, at, *part);
}

} // namespace vandry
