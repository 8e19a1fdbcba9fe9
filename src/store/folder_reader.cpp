#include "store/folder_reader.h"

#include <cerrno>
#include <fcntl.h>

namespace vandry {

FolderReader::FolderReader(const std::string& folder) : dir_(::opendir(folder.c_str())) {}

FolderReader::~FolderReader()
{
    if (dir_)
        ::closedir(dir_);
}

std::optional<std::string> FolderReader::next()
{
    if (!dir_)
        return std::nullopt;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir_);
        if (!entry) {
            failed_ = errno != 0;
            return std::nullopt;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            return name;
    }
}

std::optional<struct stat> FolderReader::status(const std::string& name, bool follow) const
{
    struct stat st {};
    if (!dir_ || ::fstatat(::dirfd(dir_), name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return st;
}

} // namespace vandry
