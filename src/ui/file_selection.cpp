#include "ui/file_list.h"

#include "discovery/request_server.h"
#include "store/listing_names.h"

namespace vandry {

namespace {
void endWith(std::string& path, char separator)
{
    if (path.empty() || path.back() != separator)
        path += separator;
}
} // namespace

FileSelection FileList::selectionFor(const FileItem& item, const std::string& downloadRoot) const
{
    // The path below the top item, and the top item's child on the way to `item`.
    const FileItem* top = &item;
    const FileItem* below = &item;
    std::string rel;
    while (top->parent) {
        rel = "\\" + top->name + rel;
        below = top;
        top = top->parent;
    }
    std::string hostText = top->host;
    std::string dirPath = top->path;
    if (hostText.empty()) {
        // A search root: the matched folder below it knows its host and path, and stands for its
        // own name in `rel`.
        hostText = below->host;
        dirPath = below->path;
        const std::size_t next = rel.find('\\', 1);
        rel = next == std::string::npos ? std::string() : rel.substr(next);
    }

    FileSelection selection;
    selection.isDirectory = item.size.empty();
    selection.hasChildren = !item.children.empty();
    selection.size = item.bytes;
    selection.hostKnown = !hostText.empty();
    if (selection.hasChildren && hostText.empty())
        hostText = top->children.front()->host;
    selection.host = hostRecordFromHex(hostText).value_or(HostRecord{});

    TaskRecord& record = selection.record;
    record.directory = selection.isDirectory ? 1 : 0;
    record.remotePath = collapseDoubleSeparators(dirPath + rel);
    record.localPath = downloadRoot;
    if (!record.localPath.empty())
        endWith(record.localPath, '/');
    // The top item of a browsed share is named "\": its download goes straight into the root.
    if (isPlainName(item.name))
        record.localPath += item.name;
    if (selection.isDirectory) {
        endWith(record.remotePath, '\\');
        endWith(record.localPath, '/');
    }
    return selection;
}

} // namespace vandry
