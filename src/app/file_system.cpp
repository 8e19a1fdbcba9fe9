#include "app/file_system.h"

namespace vandry {

namespace {
std::string_view withoutTrailingSeparators(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}
} // namespace

bool folderValid(const FileSystemQueries& fs, std::string_view path)
{
    if (path.empty())
        return false;
    const auto bare = withoutTrailingSeparators(path);
    for (const auto& mount : fs.mountPoints())
        if (mount.path == bare)
            return mount.local && fs.isDirectory(bare);
    return fs.isDirectory(bare);
}

std::string defaultDownloadRoot(const FileSystemQueries& fs, std::string_view current)
{
    if (!current.empty() && folderValid(fs, current))
        return std::string(current);
    const std::vector<MountPoint> mounts = fs.mountPoints();
    const MountPoint* best = nullptr;
    for (const auto& mount : mounts)
        if (mount.local && (!best || mount.bytesFree > best->bytesFree))
            best = &mount;
    return best ? withTrailingSeparator(best->path) : std::string{};
}

std::string withTrailingSeparator(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

} // namespace vandry
