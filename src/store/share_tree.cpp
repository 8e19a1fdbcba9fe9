#include "store/share_tree.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vandry {

namespace {

enum class EntryKind { Folder, File, Other };

// The kind readdir reports, asking the disk only when it does not say (or for a file's size).
EntryKind entryKind(int folderFd, const dirent& entry, std::uint64_t& size)
{
    if (entry.d_type == DT_DIR)
        return EntryKind::Folder;
    if (entry.d_type != DT_REG && entry.d_type != DT_UNKNOWN)
        return EntryKind::Other;
    struct stat info {};
    if (::fstatat(folderFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return EntryKind::Other;
    if (S_ISDIR(info.st_mode))
        return EntryKind::Folder;
    if (!S_ISREG(info.st_mode))
        return EntryKind::Other;
    size = static_cast<std::uint64_t>(info.st_size);
    return EntryKind::File;
}

// Lists one folder; the folder is closed again before its subfolders are walked, so a deep tree
// holds one descriptor at a time.
void listFolder(int fd, SharedFolder& folder)
{
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        std::uint64_t size = 0;
        switch (entryKind(::dirfd(dir), *entry, size)) {
        case EntryKind::Folder:
            folder.folders.push_back({entry->d_name, {}, {}});
            break;
        case EntryKind::File:
            folder.files.push_back({entry->d_name, size});
            break;
        case EntryKind::Other:
            break;
        }
    }
    ::closedir(dir);
    std::sort(folder.files.begin(), folder.files.end(),
              [](const SharedFile& a, const SharedFile& b) { return a.name < b.name; });
    std::sort(folder.folders.begin(), folder.folders.end(),
              [](const SharedFolder& a, const SharedFolder& b) { return a.name < b.name; });
}

void walk(const std::string& path, int openFlags, SharedFolder& folder)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | openFlags);
    if (fd < 0)
        return;
    listFolder(fd, folder);
    const std::string prefix = path.ends_with('/') ? path : path + '/';
    // A subfolder replaced by a link since it was listed is refused by O_NOFOLLOW.
    for (auto& sub : folder.folders)
        walk(prefix + sub.name, O_NOFOLLOW, sub);
}

} // namespace

SharedFolder readShareTree(const std::string& path)
{
    SharedFolder top;
    // The share root itself may be a link to the real folder.
    walk(path, 0, top);
    return top;
}

} // namespace vandry
