#include "ui/file_list.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "common/format_size.h"
#include "common/text.h"
#include "discovery/request_server.h"
#include "store/listing_names.h"
#include "store/share_index_records.h"
#include "ui/browse_reply.h"
#include "ui/search_answer.h"

namespace vandry {

namespace {
// Bit 4 of the answer's byte 3 asks for the matched folders to be shown open.
constexpr std::uint8_t kExpandMatchedBit = 0x10;
// A request's path field holds 259 bytes after the base path (at most 255) is taken off.
constexpr std::size_t kLongestFolderPath = 1024;

std::unique_ptr<FileItem> makeItem(std::string name, FileIcon icon)
{
    auto item = std::make_unique<FileItem>();
    item->name = std::move(name);
    item->icon = icon;
    return item;
}

// The top item of a browsed share is named by the last component of the browsed path.
std::string shareName(std::string_view path)
{
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    const std::size_t cut = path.rfind('\\');
    const std::string_view last = cut == std::string_view::npos ? path : path.substr(cut + 1);
    return last.empty() ? std::string("\\") : validUtf8(last);
}

std::size_t treeSize(const FileItem& item)
{
    std::size_t count = 1;
    for (const auto& child : item.children)
        count += treeSize(*child);
    return count;
}

// Files first, then folders, each in listing order.
std::vector<std::unique_ptr<FileItem>> listingItems(const std::vector<BrowseEntry>& entries)
{
    std::vector<std::unique_ptr<FileItem>> items;
    for (const bool directories : {false, true}) {
        for (const BrowseEntry& entry : entries) {
            std::string name = validUtf8(entry.name);
            if (entry.directory != directories || !isPlainName(name))
                continue;
            auto item = makeItem(std::move(name), directories ? FileIcon::Folder : FileIcon::File);
            if (!directories) {
                item->size = formatSize(entry.size);
                item->bytes = entry.size;
            }
            items.push_back(std::move(item));
        }
    }
    return items;
}

// "\" and the name of every folder from the outermost down to `folder`, less the sharer's base
// path, which the answer gives as a length. nullopt for a path too long for any request, which a
// deep chain of folders in a hostile answer would otherwise repeat for every folder on it.
std::optional<std::string> matchedFolderPath(const SearchAnswer& answer, std::size_t folder)
{
    std::vector<const std::string*> names;
    std::size_t length = 0;
    for (int at = static_cast<int>(folder); at >= 0; at = answer.folders[static_cast<std::size_t>(at)].parent) {
        const std::string& name = answer.folders[static_cast<std::size_t>(at)].name;
        length += 1 + name.size();
        if (length > kLongestFolderPath)
            return std::nullopt;
        names.push_back(&name);
    }
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        path += "\\" + **name;
    path = collapseDoubleSeparators(path);
    if (path.size() >= answer.baseLength)
        path.erase(0, answer.baseLength);
    return path;
}

// "music/live" for a result in "\music\live\": where in the share it was found, as paths read
// here. The share's own folder ("\") keeps its name.
std::string folderLabel(std::string_view wirePath)
{
    while (!wirePath.empty() && wirePath.front() == '\\')
        wirePath.remove_prefix(1);
    while (!wirePath.empty() && wirePath.back() == '\\')
        wirePath.remove_suffix(1);
    std::string label = validUtf8(std::string(wirePath));
    std::replace(label.begin(), label.end(), '\\', '/');
    return label;
}

struct FolderContents {
    std::vector<std::size_t> files;
    std::vector<std::size_t> subfolders;
};

std::unique_ptr<FileItem> matchedFolderItem(const SearchAnswer& answer, std::size_t folder,
                                            const FolderContents& contents, const std::string& hostHex)
{
    const AnswerFolder& entry = answer.folders[folder];
    std::string name = validUtf8(entry.name);
    auto path = matchedFolderPath(answer, folder);
    if (!isPlainName(name) || !path)
        return nullptr;
    auto item = makeItem(std::move(name), FileIcon::Folder);
    item->label = folderLabel(*path);
    item->path = std::move(*path);
    item->host = hostHex;
    std::size_t filesShown = 0;
    for (std::size_t index : contents.files) {
        std::string fileName = validUtf8(answer.files[index].name);
        if (!isPlainName(fileName))
            continue;
        auto file = makeItem(std::move(fileName), FileIcon::File);
        file->size = formatSize(answer.files[index].size);
        file->bytes = answer.files[index].size;
        item->children.push_back(std::move(file));
        ++filesShown;
    }
    if (filesShown < entry.fileCount)
        item->children.push_back(makeItem(std::string(kMoreFilesPlaceholder), FileIcon::Folder));
    for (std::size_t index : contents.subfolders) {
        std::string folderName = validUtf8(answer.folders[index].name);
        if (isPlainName(folderName))
            item->children.push_back(makeItem(std::move(folderName), FileIcon::Folder));
    }
    item->expanded = (answer.baseLength & kExpandMatchedBit) != 0;
    return item;
}

std::unique_ptr<FileItem> answerRoot(const SearchAnswer& answer)
{
    std::vector<FolderContents> contents(answer.folders.size());
    for (std::size_t i = 0; i < answer.files.size(); ++i)
        contents[answer.files[i].parent].files.push_back(i);
    for (std::size_t i = 0; i < answer.folders.size(); ++i)
        if (answer.folders[i].parent >= 0)
            contents[static_cast<std::size_t>(answer.folders[i].parent)].subfolders.push_back(i);

    auto root = makeItem(validUtf8(answer.host.nickname()), FileIcon::Drive);
    const std::string hostHex = hostRecordHex(answer.host);
    for (std::size_t i = 0; i < answer.folders.size(); ++i) {
        if (answer.folders[i].mark != kMarkMatched)
            continue;
        if (auto item = matchedFolderItem(answer, i, contents[i], hostHex))
            root->children.push_back(std::move(item));
    }
    root->expanded = true;
    return root;
}
} // namespace

void FileList::clear()
{
    roots_.clear();
    byId_.clear();
    notice_.clear();
    ++revision_;
}

void FileList::showNotice(std::string text)
{
    clear();
    notice_ = std::move(text);
}

bool FileList::showBrowseReply(ByteSpan payload)
{
    const auto reply = parseBrowseReply(payload);
    if (!reply)
        return false;
    auto children = listingItems(reply->entries);
    if (reply->row < 0) {
        if (children.size() + 1 > kMaxItems)
            return false;
        auto top = makeItem(shareName(reply->path), FileIcon::Folder);
        // Assigned as a character: GCC 12 sees a false overlap (-Wrestrict) in the literal's copy.
        top->path.assign(1, '\\');
        top->host = hostRecordHex(reply->host);
        top->expanded = true;
        clear();
        adoptRoot(std::move(top));
        adopt(*roots_.back(), std::move(children));
    } else {
        const auto found = byId_.find(reply->row);
        if (found == byId_.end())
            return false;
        FileItem& parent = *found->second;
        if (!parent.size.empty())
            return false; // a file holds no listing
        std::size_t replaced = 0;
        for (const auto& child : parent.children)
            replaced += treeSize(*child);
        if (byId_.size() - replaced + children.size() > kMaxItems)
            return false;
        // The listing is the folder's whole content: a repeated reply replaces the first.
        for (const auto& child : parent.children)
            forgetTree(*child);
        parent.children.clear();
        adopt(parent, std::move(children));
        parent.expanded = true;
    }
    ++revision_;
    return true;
}

bool FileList::showSearchReply(ByteSpan payload)
{
    const auto answer = parseSearchAnswer(payload);
    if (!answer)
        return false;
    auto root = answerRoot(*answer);
    if (byId_.size() + treeSize(*root) > kMaxItems)
        return false;
    adoptRoot(std::move(root));
    ++revision_;
    return true;
}

const FileItem* FileList::find(std::int32_t id) const
{
    const auto found = byId_.find(id);
    return found == byId_.end() ? nullptr : found->second;
}

void FileList::adopt(FileItem& parent, std::vector<std::unique_ptr<FileItem>> children)
{
    for (auto& child : children) {
        child->parent = &parent;
        registerTree(*child);
        parent.children.push_back(std::move(child));
    }
}

void FileList::adoptRoot(std::unique_ptr<FileItem> root)
{
    notice_.clear();
    root->parent = nullptr;
    registerTree(*root);
    roots_.push_back(std::move(root));
}

void FileList::registerTree(FileItem& item)
{
    item.id = takeId();
    byId_.emplace(item.id, &item);
    for (auto& child : item.children) {
        child->parent = &item;
        registerTree(*child);
    }
}

void FileList::forgetTree(const FileItem& item)
{
    byId_.erase(item.id);
    for (const auto& child : item.children)
        forgetTree(*child);
}

std::int32_t FileList::takeId()
{
    // Ids are not reused after a clear, so a late reply for an item of an earlier list finds nothing.
    while (byId_.contains(nextId_))
        nextId_ = nextId_ == std::numeric_limits<std::int32_t>::max() ? 0 : nextId_ + 1;
    const std::int32_t id = nextId_;
    nextId_ = nextId_ == std::numeric_limits<std::int32_t>::max() ? 0 : nextId_ + 1;
    return id;
}

} // namespace vandry
