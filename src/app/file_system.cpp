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

std::string proposedDownloadRoot(const FileSystemQueries& fs)
{
    return withTrailingSeparator(withTrailingSeparator(fs.userDownloadFolder()) + "Vandry");
}

std::string withTrailingSeparator(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

} // namespace vandry
