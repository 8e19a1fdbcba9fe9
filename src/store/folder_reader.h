#pragma once
// FolderReader: the entries of one folder in the order the file system returns them, without
// "." and "..". Holds the folder open for its lifetime.

#include <dirent.h>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace vandry {

class FolderReader {
public:
    explicit FolderReader(const std::string& folder);
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    bool isOpen() const { return dir_ != nullptr; }
    // The next entry's name; nullopt at the end of the folder or when reading it failed.
    std::optional<std::string> next();
    // The last next() stopped on an error rather than at the end.
    bool failed() const { return failed_; }
    // Status of an entry of this folder; `follow` decides for symbolic links.
    std::optional<struct stat> status(const std::string& name, bool follow) const;

private:
    DIR* dir_ = nullptr;
    bool failed_ = false;
};

} // namespace vandry
