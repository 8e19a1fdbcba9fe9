#include "ui/search_answer.h"

#include <unordered_map>

#include "store/share_index_records.h"

namespace vandry {

namespace {
constexpr std::size_t kDataOffset = 68;
constexpr std::size_t kAreaTail = 2; // two zero bytes after each area

struct Areas {
    ByteSpan fileNames, fileRecords, folderNames, folderRecords;
};

std::optional<Areas> locateAreas(ByteSpan payload, std::size_t fileLength, std::size_t folderLength)
{
    if (payload.size() < kDataOffset + 4 * kAreaTail + 2 * (fileLength + folderLength))
        return std::nullopt;
    ByteSpan rest = payload.subspan(kDataOffset);
    const auto take = [&rest](std::size_t length) {
        const ByteSpan area = rest.first(length);
        rest = rest.subspan(length + kAreaTail);
        return area;
    };
    Areas areas;
    areas.fileNames = take(fileLength);
    areas.fileRecords = take(fileLength);
    areas.folderNames = take(folderLength);
    areas.folderRecords = take(folderLength);
    return areas;
}

// The name of the entry at `position`: after its "|", padding removed.
std::string entryName(ByteSpan names, std::size_t position, std::size_t stride)
{
    const ByteSpan name = names.subspan(position + 1, stride - 1);
    std::size_t end = name.size();
    while (end > 0 && (name[end - 1] == ' ' || name[end - 1] == 0))
        --end;
    return std::string(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(end));
}

// Folder entries with their raw parent positions; false when a stride does not fit.
bool readFolders(const Areas& areas, std::vector<AnswerFolder>& folders, std::vector<std::uint32_t>& parents,
                 std::unordered_map<std::uint32_t, std::size_t>& byPosition)
{
    const std::size_t length = areas.folderRecords.size();
    for (std::size_t position = 0; position < length;) {
        if (length - position < kFolderRecordSize)
            return false;
        const FolderRecord record = readFolderRecord(areas.folderRecords, position);
        if (record.stride < kFolderRecordSize || record.stride > length - position)
            return false;
        byPosition.emplace(static_cast<std::uint32_t>(position), folders.size());
        folders.push_back({entryName(areas.folderNames, position, record.stride), -1, record.fileCount, record.mark});
        parents.push_back(record.parent);
        position += record.stride;
    }
    return true;
}

bool readFiles(const Areas& areas, const std::unordered_map<std::uint32_t, std::size_t>& folderAt,
               std::vector<AnswerFile>& files)
{
    const std::size_t length = areas.fileRecords.size();
    for (std::size_t position = 0; position < length;) {
        if (length - position < kFileRecordSize)
            return false;
        const FileRecord record = readFileRecord(areas.fileRecords, position);
        if (record.stride < kFileRecordSize || record.stride > length - position)
            return false;
        const auto parent = folderAt.find(record.parent);
        if (parent == folderAt.end())
            return false;
        files.push_back({entryName(areas.fileNames, position, record.stride), parent->second, record.size});
        position += record.stride;
    }
    return true;
}

// Links every folder to its parent's index; false when a parent names no entry or the parents
// loop. Each folder is visited once on its way up, so a long chain costs no more than its length.
bool linkParents(std::vector<AnswerFolder>& folders, const std::vector<std::uint32_t>& parents,
                 const std::unordered_map<std::uint32_t, std::size_t>& byPosition)
{
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (parents[i] == kNoParentFolder)
            continue;
        const auto parent = byPosition.find(parents[i]);
        if (parent == byPosition.end())
            return false;
        folders[i].parent = static_cast<int>(parent->second);
    }
    enum class Visit : std::uint8_t { New, OnPath, Done };
    std::vector<Visit> visit(folders.size(), Visit::New);
    std::vector<std::size_t> path;
    for (std::size_t start = 0; start < folders.size(); ++start) {
        path.clear();
        int at = static_cast<int>(start);
        while (at >= 0 && visit[static_cast<std::size_t>(at)] != Visit::Done) {
            if (visit[static_cast<std::size_t>(at)] == Visit::OnPath)
                return false;
            visit[static_cast<std::size_t>(at)] = Visit::OnPath;
            path.push_back(static_cast<std::size_t>(at));
            at = folders[static_cast<std::size_t>(at)].parent;
        }
        for (std::size_t index : path)
            visit[index] = Visit::Done;
    }
    return true;
}
} // namespace

std::optional<SearchAnswer> parseSearchAnswer(ByteSpan payload)
{
    ByteReader in(payload);
    in.skip(3);
    SearchAnswer answer;
    answer.baseLength = in.u8();
    const std::size_t fileLength = in.u16le();
    const std::size_t folderLength = in.u16le();
    const auto host = parseHostRecord(in);
    if (!in.ok() || !host)
        return std::nullopt;
    answer.host = *host;
    const auto areas = locateAreas(payload, fileLength, folderLength);
    if (!areas)
        return std::nullopt;
    std::vector<std::uint32_t> parents;
    std::unordered_map<std::uint32_t, std::size_t> folderAt;
    if (!readFolders(*areas, answer.folders, parents, folderAt) || !linkParents(answer.folders, parents, folderAt) ||
        !readFiles(*areas, folderAt, answer.files))
        return std::nullopt;
    return answer;
}

} // namespace vandry
