#include "update/executable_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace vandry {

namespace {
// Folders whose files belong to the package manager (the local hierarchy is the admin's own).
bool isPackageManagerPath(const std::string& path)
{
    if (path.starts_with("/usr/local/"))
        return false;
    for (const char* prefix : {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib64/"})
        if (path.starts_with(prefix))
            return true;
    return false;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string failure(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t wrote = ::write(fd, data, size);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}

// Copies everything of `in` to `out`; the error text, or empty.
std::string copyContents(int in, int out)
{
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failure("read");
        if (got == 0)
            return {};
        if (!writeAll(out, buffer.data(), static_cast<std::size_t>(got)))
            return failure("write");
    }
}
} // namespace

ReplaceBlock replaceBlockFor(const std::filesystem::path& executable)
{
    struct stat info {};
    if (::stat(executable.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return ReplaceBlock::NotAFile;
    if (isPackageManagerPath(executable.string()))
        return ReplaceBlock::PackageManaged;
    if (::access(executable.parent_path().c_str(), W_OK | X_OK) != 0)
        return ReplaceBlock::FolderNotWritable;
    if (info.st_uid != ::geteuid())
        return ReplaceBlock::NotOwner;
    return ReplaceBlock::None;
}

std::string replaceBlockText(ReplaceBlock block)
{
    switch (block) {
    case ReplaceBlock::None:
        return "replaceable";
    case ReplaceBlock::NotAFile:
        return "it is not a regular file";
    case ReplaceBlock::PackageManaged:
        return "it belongs to the system's package manager";
    case ReplaceBlock::FolderNotWritable:
        return "its folder is read-only";
    case ReplaceBlock::NotOwner:
        return "another user owns it";
    }
    return "unknown";
}

ReplaceResult replaceExecutable(const std::filesystem::path& source, const std::filesystem::path& target)
{
    struct stat targetInfo {};
    if (::stat(target.c_str(), &targetInfo) != 0)
        return {false, failure("stat " + target.string())};
    // Only an executable is replaced by one: a mistyped path never loses a document.
    if (!S_ISREG(targetInfo.st_mode) || (targetInfo.st_mode & S_IXUSR) == 0)
        return {false, target.string() + " is not an executable file"};
    const Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return {false, failure("open " + source.string())};
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".upgrade-XXXXXX")).string();
    Fd out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0)
        return {false, failure("create a file beside " + target.string())};
    std::string error = copyContents(in.get(), out.get());
    if (error.empty() && ::fchmod(out.get(), targetInfo.st_mode & 07777) != 0)
        error = failure("chmod");
    if (error.empty() && ::fsync(out.get()) != 0)
        error = failure("fsync");
    if (error.empty() && ::close(out.release()) != 0)
        error = failure("close");
    if (error.empty() && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = failure("rename over " + target.string());
    if (!error.empty()) {
        ::unlink(temporary.c_str());
        return {false, error};
    }
    // The rename itself reaches the disk with its folder.
    if (const Fd folder(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folder.get() >= 0)
        ::fsync(folder.get());
    return {true, {}};
}

} // namespace vandry
