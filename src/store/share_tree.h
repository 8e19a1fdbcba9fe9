#pragma once
// SharedFolder: the shared folder's tree as one walk of the disk found it, names and sizes only,
// so that the name index is laid out from memory afterwards.
//
// Only regular files and real folders are listed: symbolic links are skipped (a link to a folder
// could loop, a link to a file may point outside the share and could not be served anyway), and
// so are devices, pipes and sockets. A folder that cannot be opened is listed without children.
// Files and folders are sorted by name so that the same disk gives the same index.

#include <cstdint>
#include <string>
#include <vector>

namespace vandry {

struct SharedFile {
    std::string name;
    std::uint64_t size = 0;
};

struct SharedFolder {
    std::string name;
    std::vector<SharedFile> files;
    std::vector<SharedFolder> folders;
};

// Walks the folder at `path` (a native path) and everything below it. The result's own name is
// left empty: the caller names the top.
SharedFolder readShareTree(const std::string& path);

} // namespace vandry
