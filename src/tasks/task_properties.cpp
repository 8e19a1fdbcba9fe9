#include "tasks/task_properties.h"

#include <algorithm>

#include "common/text.h"
#include "store/listing_record.h"

namespace vandry {

void LinkRates::update(const std::vector<ReceivingLink>& links)
{
    std::map<std::uint8_t, Entry> next;
    for (const ReceivingLink& link : links) {
        Entry entry = entries_.count(link.slot) ? entries_.at(link.slot) : Entry{};
        if (entry.lastPosition == 0 || entry.lastPosition < link.rangeStart || entry.lastPosition > link.position) {
            entry.rate = 0;
            entry.lastPosition = link.position;
        }
        entry.rate = (entry.rate + 2 * (link.position - entry.lastPosition)) / 3;
        entry.lastPosition = link.position;
        next[link.slot] = entry;
    }
    entries_ = std::move(next);
}

std::uint32_t LinkRates::rate(std::uint8_t slot) const
{
    const auto found = entries_.find(slot);
    return found == entries_.end() ? 0 : found->second.rate;
}

std::string_view folderFileStateText(FolderFileState state)
{
    switch (state) {
    case FolderFileState::Finished:
        return "结束传输";
    case FolderFileState::Transferring:
        return "正在传输";
    case FolderFileState::Waiting:
        break;
    }
    return "队列等待";
}

std::vector<ListedFolder> listedFolders(ByteSpan listings)
{
    std::vector<ListedFolder> folders;
    ListedFolder* current = nullptr;
    forEachListingRecord(listings, [&](std::size_t, const ListingRecord& record) {
        if (record.isHeader()) {
            const std::string name = validUtf8(record.name);
            const auto known = std::find_if(folders.begin(), folders.end(),
                                            [&](const ListedFolder& folder) { return folder.folder == name; });
            current = known != folders.end() ? &*known : &folders.emplace_back(ListedFolder{name, {}});
            return true;
        }
        if (!record.isFile() || !current)
            return true;
        FolderFileState state = FolderFileState::Waiting;
        if (record.mark & kMarkDone)
            state = FolderFileState::Finished;
        else if (record.mark & kMarkHandedOut)
            state = FolderFileState::Transferring;
        current->files.push_back({validUtf8(record.name), record.size, state});
        return true;
    });
    return folders;
}

} // namespace vandry
