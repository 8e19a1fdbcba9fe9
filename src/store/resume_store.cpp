#include "store/resume_store.h"

#include <cerrno>
#include <vector>

#include "common/hex.h"
#include "common/md5.h"
#include "store/posix_file.h"

namespace vandry {

namespace {
bool ensureFolder(const std::filesystem::path& folder)
{
    std::error_code ec;
    if (std::filesystem::create_directories(folder, ec))
        return syncFolder(folder.parent_path().empty() ? "." : folder.parent_path());
    return !ec && std::filesystem::is_directory(folder, ec);
}

bool writeDurably(const std::filesystem::path& file, ByteSpan bytes)
{
    auto out = PosixFile::open(file, PosixFile::Mode::CreateWrite);
    return out.isOpen() && out.writeAt(0, bytes) && out.sync();
}
} // namespace

std::filesystem::path ResumeStore::recordFile(const std::string& path) const
{
    return folder_ / (hexEncode(md5(asBytes(path))) + ".resume");
}

ResumeStore::Lookup ResumeStore::load(const std::string& path) const
{
    waitForSaves();
    const auto in = PosixFile::open(recordFile(path), PosixFile::Mode::Read);
    if (!in.isOpen())
        return {errno == ENOENT ? Status::None : Status::Damaged, {}};
    std::vector<std::uint8_t> bytes(kMaxRecordSize + 1);
    bytes.resize(in.readAt(0, bytes));
    auto record = parseResumeRecord(bytes);
    if (!record)
        return {Status::Damaged, {}};
    if (record->path != path)
        return {Status::None, {}};
    return {Status::Found, std::move(*record)};
}

bool ResumeStore::save(const ResumeRecord& record)
{
    waitForSaves();
    return write(record);
}

bool ResumeStore::saveAfterSync(const PosixFile& file, ResumeRecord record)
{
    auto own = std::make_shared<PosixFile>(file.duplicate());
    if (!own->isOpen())
        return false;
    saves_->post([this, own, record = std::move(record)] {
        if (own->syncData())
            write(record);
    });
    return true;
}

bool ResumeStore::write(const ResumeRecord& record) const
{
    const auto bytes = encodeResumeRecord(record);
    if (bytes.empty() || !ensureFolder(folder_))
        return false;
    const auto target = recordFile(record.path);
    auto temporary = target;
    temporary.replace_extension(".tmp");
    std::error_code ec;
    if (!writeDurably(temporary, bytes)) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return syncFolder(folder_);
}

bool ResumeStore::remove(const std::string& path)
{
    waitForSaves();
    std::error_code ec;
    const bool removed = std::filesystem::remove(recordFile(path), ec);
    if (ec)
        return false;
    return !removed || syncFolder(folder_);
}

} // namespace vandry
