#include "ui/name_clash.h"

#include <filesystem>

#include "link/local_file_check.h"

namespace vandry {

namespace fs = std::filesystem;

std::optional<NameClash> findNameClash(const std::string& localPath, std::uint64_t remoteSize,
                                       const ResumeStore& resume)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(localPath, ec)))
        return std::nullopt;
    NameClash clash;
    StreamEntry partial;
    if (checkLocalFileForTask(localPath, partial, resume, false) == CheckResult::Loaded)
        clash.mayResume = partial.info.size == remoteSize;
    else
        clash.mayResume = fs::is_regular_file(localPath, ec) && fs::file_size(localPath, ec) == remoteSize && !ec;
    clash.keepBothPath = freeNameBeside(localPath);
    return clash;
}

std::string freeNameBeside(const std::string& localPath)
{
    const fs::path path(localPath);
    const std::string stem = path.stem().string();
    const std::string extension = path.extension().string();
    std::error_code ec;
    for (int number = 2;; ++number) {
        fs::path candidate = path.parent_path() / (stem + " (" + std::to_string(number) + ")" + extension);
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            return candidate.string();
    }
}

} // namespace vandry
