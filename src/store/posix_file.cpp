#include "store/posix_file.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace vandry {

static_assert(sizeof(off_t) >= 8, "64-bit file offsets are required");

namespace {
int flagsFor(PosixFile::Mode mode)
{
    switch (mode) {
    case PosixFile::Mode::Read:
        return O_RDONLY;
    case PosixFile::Mode::ReadWrite:
        return O_RDWR | O_CREAT;
    case PosixFile::Mode::CreateWrite:
        return O_WRONLY | O_CREAT | O_TRUNC;
    }
    return O_RDONLY;
}

bool offsetFits(std::uint64_t offset, std::size_t length)
{
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    return offset <= kMax && length <= kMax - offset;
}
} // namespace

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

PosixFile PosixFile::open(const std::filesystem::path& path, Mode mode)
{
    int fd = -1;
    do
        fd = ::open(path.c_str(), flagsFor(mode) | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return PosixFile(fd);
}

void PosixFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::size_t PosixFile::readAt(std::uint64_t offset, MutableByteSpan into) const
{
    if (!isOpen() || !offsetFits(offset, into.size()))
        return 0;
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got = ::pread(fd_, into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool PosixFile::writeAt(std::uint64_t offset, ByteSpan bytes)
{
    if (!isOpen() || !offsetFits(offset, bytes.size()))
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::optional<std::uint64_t> PosixFile::size() const
{
    struct stat st {};
    if (!isOpen() || ::fstat(fd_, &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool PosixFile::resize(std::uint64_t length)
{
    if (!isOpen() || !offsetFits(length, 0))
        return false;
    int result = 0;
    do
        result = ::ftruncate(fd_, static_cast<off_t>(length));
    while (result != 0 && errno == EINTR);
    return result == 0;
}

PosixFile PosixFile::duplicate() const
{
    return PosixFile(isOpen() ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1);
}

bool PosixFile::syncData()
{
    return isOpen() && ::fdatasync(fd_) == 0;
}

bool PosixFile::sync()
{
    return isOpen() && ::fsync(fd_) == 0;
}

bool PosixFile::syncFileSystem()
{
    return isOpen() && ::syncfs(fd_) == 0;
}

std::optional<std::uint64_t> PosixFile::fileSystem() const
{
    struct stat st {};
    if (!isOpen() || ::fstat(fd_, &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_dev);
}

bool syncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool replaceFileAtomically(const std::filesystem::path& file, ByteSpan bytes)
{
    auto temporary = file;
    temporary += ".tmp";
    std::error_code ec;
    auto out = PosixFile::open(temporary, PosixFile::Mode::CreateWrite);
    if (!out.isOpen() || !out.writeAt(0, bytes) || !out.sync()) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    out.close();
    std::filesystem::rename(temporary, file, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    syncFolder(file.parent_path().empty() ? "." : file.parent_path());
    return true;
}

} // namespace vandry
