#include "store/file_info_source.h"

#include "link/local_file_check.h"
#include "store/resume_store.h"

namespace vandry {

std::optional<FileInfoBlock> LocalFileInfoSource::fileInfo(const std::string& path, bool compute)
{
    StreamEntry entry;
    if (checkLocalFileForTask(path, entry, resume_, compute) != CheckResult::Loaded)
        return std::nullopt;
    // A partial download started without knowing its digest says nothing about the content.
    if (!entry.info.digestKnown())
        return std::nullopt;
    return entry.info;
}

} // namespace vandry
