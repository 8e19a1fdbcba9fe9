#include "link/local_file_check.h"

#include <array>
#include <limits>
#include <optional>
#include <sys/stat.h>

#include "common/file_digest.h"
#include "store/posix_file.h"
#include "store/resume_store.h"
#include "store/resume_trailer.h"

namespace vandry {

namespace {
enum class LocalState { Missing, Damaged, Short, Unreadable, Partial, Plain };

std::optional<std::uint64_t> regularFileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

// Blocks claimed beyond `length` bytes hold no data.
void keepWithin(BlockMap& map, std::uint64_t length, const FileInfoBlock& info)
{
    const auto held = blocksWithin(length, info.size);
    if (held < map.lastEnd())
        map.subtractRange(static_cast<std::uint32_t>(held), map.lastEnd());
}

LocalState readTrailer(const std::string& path, std::uint64_t length, StreamEntry& entry)
{
    const auto file = PosixFile::open(path, PosixFile::Mode::Read);
    if (!file.isOpen())
        return LocalState::Unreadable;
    std::array<std::uint8_t, kTrailerSize> tail{};
    const auto got = file.readAt(length - kTrailerSize, tail);
    auto trailer = parseResumeTrailer(std::span(tail).first(got));
    if (!trailer) {
        if (blockCountFor(length) > std::numeric_limits<std::uint32_t>::max())
            return LocalState::Unreadable;
        entry.info.describe(length);
        return LocalState::Plain;
    }
    entry.info = trailer->info;
    entry.map = trailer->map;
    keepWithin(entry.map, length - kTrailerSize, entry.info);
    return LocalState::Partial;
}

LocalState inspect(const std::string& path, StreamEntry& entry, const ResumeStore& resume)
{
    const auto length = regularFileSize(path);
    if (!length)
        return LocalState::Missing;
    auto lookup = resume.load(path);
    if (lookup.status == ResumeStore::Status::Damaged)
        return LocalState::Damaged;
    if (lookup.status == ResumeStore::Status::Found) {
        entry.info = lookup.record.info;
        entry.map = lookup.record.map;
        keepWithin(entry.map, *length, entry.info);
        return LocalState::Partial;
    }
    if (*length < kBlockSize)
        return LocalState::Short;
    return readTrailer(path, *length, entry);
}

bool describeAsComplete(const std::string& path, StreamEntry& entry)
{
    const auto digest = computeFileDigest(path);
    if (!digest)
        return false;
    entry.info.setDigest(fileDigestText(*digest));
    entry.map = BlockMap::whole(entry.info.blockCount);
    return true;
}

CheckResult finish(StreamEntry& entry, StreamEntry& loaded, CheckResult result)
{
    if (result == CheckResult::Loaded) {
        entry.info = loaded.info;
        entry.map = loaded.map;
        entry.receivedKb = static_cast<std::uint32_t>(entry.map.countBlocks());
    }
    return result;
}
} // namespace

CheckResult checkLocalFile(const std::string& path, StreamEntry& entry, const ResumeStore& resume)
{
    StreamEntry loaded;
    switch (inspect(path, loaded, resume)) {
    case LocalState::Partial:
        return finish(entry, loaded, CheckResult::Loaded);
    case LocalState::Plain:
        return finish(entry, loaded, describeAsComplete(path, loaded) ? CheckResult::Loaded : CheckResult::Missing);
    case LocalState::Short:
        return CheckResult::Unusable;
    case LocalState::Missing:
    case LocalState::Damaged:
    case LocalState::Unreadable:
        break;
    }
    return CheckResult::Missing;
}

CheckResult checkLocalFileForTask(const std::string& path, StreamEntry& entry, const ResumeStore& resume,
                                  bool initialiseComplete)
{
    StreamEntry loaded;
    switch (inspect(path, loaded, resume)) {
    case LocalState::Missing:
        return CheckResult::Missing;
    case LocalState::Partial:
        return finish(entry, loaded, CheckResult::Loaded);
    case LocalState::Plain:
        if (initialiseComplete && describeAsComplete(path, loaded))
            return finish(entry, loaded, CheckResult::Loaded);
        break;
    case LocalState::Damaged:
    case LocalState::Short:
    case LocalState::Unreadable:
        break;
    }
    return CheckResult::Unusable;
}

bool isPartialDownload(const std::string& path, const ResumeStore& resume)
{
    StreamEntry loaded;
    const LocalState state = inspect(path, loaded, resume);
    return state == LocalState::Partial || state == LocalState::Damaged;
}

} // namespace vandry
