#pragma once
// File information for the hash table and listing tests: the real service over a scratch resume
// folder, counting how often a digest was computed, or canned answers by path.

#include <map>
#include <optional>
#include <string>

#include "store/file_info_source.h"
#include "store/resume_store.h"

namespace vandry::testing {

class CountingFileInfo final : public FileInfoSource {
public:
    explicit CountingFileInfo(const std::filesystem::path& resumeFolder) : resume_(resumeFolder), local_(resume_) {}
    std::optional<FileInfoBlock> fileInfo(const std::string& path, bool compute) override
    {
        auto info = local_.fileInfo(path, compute);
        computeCalls += compute && info ? 1 : 0;
        return info;
    }
    int computeCalls = 0; // answered with compute set, which may have read the file

private:
    ResumeStore resume_;
    LocalFileInfoSource local_;
};

class CannedFileInfo final : public FileInfoSource {
public:
    std::optional<FileInfoBlock> fileInfo(const std::string& path, bool) override
    {
        const auto found = answers.find(path);
        return found == answers.end() ? std::nullopt : std::optional(found->second);
    }
    std::map<std::string, FileInfoBlock> answers;
};

} // namespace vandry::testing
