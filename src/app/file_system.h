#pragma once
// The folder checks of the settings: a share root must be a folder that exists; a bare
// mount point counts only when it is a local (not network, not pseudo) file system.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandry {

struct MountPoint {
    std::string path; // as the system lists it, no trailing separator except "/"
    bool local = false;
    std::uint64_t bytesFree = 0;
};

class FileSystemQueries {
public:
    virtual ~FileSystemQueries() = default;
    virtual bool isDirectory(std::string_view path) const = 0;
    // Mounted volumes in the system's order.
    virtual std::vector<MountPoint> mountPoints() const = 0;
};

bool folderValid(const FileSystemQueries& fs, std::string_view path);

// Leaves a valid folder as it is; otherwise picks the local mount point with the most free
// bytes (the first listed on a tie). Gives an empty text when there is none.
std::string defaultDownloadRoot(const FileSystemQueries& fs, std::string_view current);

// Appends the local separator unless the path already ends in one.
std::string withTrailingSeparator(std::string path);

} // namespace vandry
