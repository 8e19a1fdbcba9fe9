#pragma once
// FileInfoSource: what the share hash table needs to know about a local file it cannot vouch for
// itself. A partial download answers from its resume record or trailer; a complete file answers
// with the digest of its first min(size, 5 MiB) bytes, computed only when asked to. A complete
// file under 1024 bytes never has information.

#include <optional>
#include <string>

#include "link/file_info_block.h"

namespace vandry {

class ResumeStore;

class FileInfoSource {
public:
    virtual ~FileInfoSource() = default;
    // nullopt: missing or no information. compute=false never reads a complete file's content.
    virtual std::optional<FileInfoBlock> fileInfo(const std::string& path, bool compute) = 0;
};

// The files on this machine, with the resume records of partial downloads in `resume`.
class LocalFileInfoSource final : public FileInfoSource {
public:
    explicit LocalFileInfoSource(const ResumeStore& resume) : resume_(resume) {}
    std::optional<FileInfoBlock> fileInfo(const std::string& path, bool compute) override;

private:
    const ResumeStore& resume_;
};

} // namespace vandry
