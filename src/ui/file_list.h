#pragma once
// The file list: a neighbour's shared folders as a tree, filled by browse listings, and the
// search results of every neighbour that answered, one root per host. Items keep stable ids, so
// a browse request can name the item its listing goes under and the reply find it again.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/bytes.h"
#include "discovery/host_record.h"
#include "link/link_records.h"

namespace vandry {

enum class FileIcon { Folder, Drive, File };

struct FileItem {
    std::int32_t id = 0;     // stable, >= 0; a browse request carries it as its row and the reply echoes it
    std::string name;        // column 0
    std::string size;        // column 1: the size text of a file; empty for every folder
    std::uint64_t bytes = 0; // a file's size
    std::string label;       // shown instead of the name: a search result's folder path
    std::string path;        // column 2: a directory item's path on its host (wire form)
    std::string host;        // column 3: a directory item's HostRecord as 120 hex digits
    FileIcon icon = FileIcon::File;
    bool expanded = false;
    FileItem* parent = nullptr;
    std::vector<std::unique_ptr<FileItem>> children;
};

// What a right click or a double click on an item means for the download and browse commands.
struct FileSelection {
    TaskRecord record; // directory flag, remote path (wire), local path (download root + name)
    HostRecord host;   // the item's host; zeroed when none is known
    bool isDirectory = false;
    bool hasChildren = false;
    bool hostKnown = false; // false: a search root was clicked, which only offers to browse the host
    std::uint64_t size = 0; // a file's size as its sharer listed it
};

inline constexpr std::string_view kMoreFilesPlaceholder = "......";

class FileList {
public:
    // More items than this are not taken: a search reply or a listing that would pass it is dropped.
    static constexpr std::size_t kMaxItems = 200000;

    void clear();
    // Empties the list and says why in its place ("邻居“bob”没有应答。"); the next listing or
    // search answer replaces it.
    void showNotice(std::string text);
    const std::string& notice() const { return notice_; }
    // A listing of one folder. A negative echoed row starts the list anew with the browsed share
    // as its top item; otherwise the listing replaces the children of the item with that id.
    // False, with nothing changed, when the reply is malformed or names no item.
    bool showBrowseReply(ByteSpan payload);
    // A neighbour's search answer: adds a root named by its nickname with the matched folders,
    // their files and subfolders. False, with nothing changed, when the answer is malformed.
    bool showSearchReply(ByteSpan payload);

    const std::vector<std::unique_ptr<FileItem>>& roots() const { return roots_; }
    const FileItem* find(std::int32_t id) const;
    std::size_t itemCount() const { return byId_.size(); }
    // `downloadRoot` is a local folder ending in "/".
    FileSelection selectionFor(const FileItem& item, const std::string& downloadRoot) const;
    // Bumps on every change, so a view knows when to redraw.
    std::uint64_t revision() const { return revision_; }

private:
    void adopt(FileItem& parent, std::vector<std::unique_ptr<FileItem>> children);
    void adoptRoot(std::unique_ptr<FileItem> root);
    void registerTree(FileItem& item);
    void forgetTree(const FileItem& item);
    std::int32_t takeId();

    std::vector<std::unique_ptr<FileItem>> roots_;
    std::unordered_map<std::int32_t, FileItem*> byId_;
    std::int32_t nextId_ = 0;
    std::uint64_t revision_ = 0;
    std::string notice_;
};

} // namespace vandry
