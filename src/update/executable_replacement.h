#pragma once
// Replacing the installed executable with a verified release: only where this user may, and
// atomically, so that the old path always holds a whole executable, old or new.

#include <filesystem>
#include <string>

namespace vandry {

enum class ReplaceBlock {
    None,
    NotAFile,          // the path is no regular file
    PackageManaged,    // it lives where the system's package manager installs
    FolderNotWritable, // its folder is read-only to this user
    NotOwner,          // another user owns it
};

// Why `executable` cannot be replaced by this process, or None.
ReplaceBlock replaceBlockFor(const std::filesystem::path& executable);
std::string replaceBlockText(ReplaceBlock block);

struct ReplaceResult {
    bool ok = false;
    std::string error; // what failed, when not ok
};

// Copies `source` to a new file in the target's folder with the target's mode bits, flushes it,
// then renames it over `target`, which must be an executable file. On any failure the new file
// is removed and `target` is as it was.
ReplaceResult replaceExecutable(const std::filesystem::path& source, const std::filesystem::path& target);

} // namespace vandry
