#pragma once
// The folder checks of the settings: a share root must be a folder that exists; a bare
// mount point counts only when it is a local (not network, not pseudo) file system. Downloads go
// to a folder the user can write, by default one in the desktop's download folder.

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
    // A folder this user may create files in.
    virtual bool isWritableDirectory(std::string_view path) const = 0;
    // Mounted volumes in the system's order.
    virtual std::vector<MountPoint> mountPoints() const = 0;
    // The desktop's folder for downloads (XDG's, usually ~/Downloads).
    virtual std::string userDownloadFolder() const = 0;
    // Creates the folder and any missing parents; true when it exists afterwards.
    virtual bool makeDirectories(std::string_view path) const = 0;
};

bool folderValid(const FileSystemQueries& fs, std::string_view path);

// What the settings propose for downloads: "Vandry" in the desktop's download folder.
std::string proposedDownloadRoot(const FileSystemQueries& fs);

// Appends the local separator unless the path already ends in one.
std::string withTrailingSeparator(std::string path);

} // namespace vandry
