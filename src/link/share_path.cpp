#include "link/share_path.h"

#include <algorithm>
#include <filesystem>

#include "store/listing_names.h"

namespace vandry {

namespace fs = std::filesystem;

namespace {

// Both paths canonical: `path` is `root` or lies below it.
bool isWithin(const fs::path& path, const fs::path& root)
{
    const auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end();
}

std::errc errcOf(const std::error_code& ec)
{
    return ec ? static_cast<std::errc>(ec.value()) : std::errc::io_error;
}

ConfinedPath refused(std::errc error)
{
    return {{}, error};
}

} // namespace

std::string wireToLocalPath(std::string_view wire)
{
    std::string local;
    local.reserve(wire.size());
    for (char c : wire) {
        const char separatorOrChar = c == '\\' ? '/' : c;
        if (separatorOrChar == '/' && !local.empty() && local.back() == '/')
            continue;
        local += separatorOrChar;
    }
    return local;
}

std::string localToWirePath(std::string_view local)
{
    std::string wire(local);
    std::replace(wire.begin(), wire.end(), '/', '\\');
    return wire;
}

std::string wireFileName(std::string_view wire)
{
    const auto separator = wire.rfind('\\');
    return std::string(separator == std::string_view::npos ? wire : wire.substr(separator + 1));
}

bool wirePathIsFull(std::string_view wire)
{
    return !wire.empty() && wire.front() == '/';
}

namespace {
ConfinedPath resolveInsideShare(std::string_view wirePath, const std::string& shareRoot)
{
    std::error_code ec;
    if (shareRoot.empty())
        return refused(std::errc::permission_denied);
    const fs::path root = fs::canonical(shareRoot, ec);
    if (ec)
        return refused(std::errc::permission_denied);
    const fs::path local(wireToLocalPath(wirePath));
    // A path inside the share starts with a separator; it must not replace the root when joined.
    const fs::path requested = wirePathIsFull(wirePath) ? local : root / local.relative_path();
    const fs::path resolved = fs::canonical(requested, ec);
    if (ec) {
        // Say "outside" for a path that names something outside even when it does not exist.
        if (!isWithin(requested.lexically_normal(), root))
            return refused(std::errc::permission_denied);
        return refused(errcOf(ec));
    }
    if (!isWithin(resolved, root))
        return refused(std::errc::permission_denied);
    return {resolved.string(), {}};
}
} // namespace

bool staysInside(const std::string& path, const std::string& root)
{
    std::error_code ec;
    const fs::path canonicalRoot = fs::canonical(root, ec);
    if (ec)
        return false;
    const fs::path resolved = fs::canonical(path, ec);
    return !ec && isWithin(resolved, canonicalRoot);
}

ConfinedPath resolveSharedFile(std::string_view wirePath, const std::string& shareRoot)
{
    ConfinedPath confined = resolveInsideShare(wirePath, shareRoot);
    std::error_code ec;
    if (confined.ok() && !fs::is_regular_file(confined.path, ec))
        return refused(std::errc::no_such_file_or_directory);
    return confined;
}

ConfinedPath resolveSharedFolder(std::string_view wirePath, const std::string& shareRoot)
{
    ConfinedPath confined = resolveInsideShare(wirePath, shareRoot);
    std::error_code ec;
    if (confined.ok() && !fs::is_directory(confined.path, ec))
        return refused(std::errc::not_a_directory);
    return confined;
}

ConfinedPath resolveDownloadFile(const std::string& localPath)
{
    std::error_code ec;
    const fs::path path(localPath);
    if (!path.is_absolute() || !isPlainName(path.filename().string()))
        return refused(std::errc::permission_denied);
    for (const auto& component : path)
        if (component == "..")
            return refused(std::errc::permission_denied);
    // Opening a dangling link would create its target, wherever that is.
    if (fs::is_symlink(fs::symlink_status(path, ec)) && !fs::exists(path, ec))
        return refused(std::errc::permission_denied);
    const fs::path resolved = fs::weakly_canonical(path, ec);
    if (ec)
        return refused(errcOf(ec));
    return {resolved.string(), {}};
}

void ensureDirectories(const std::string& filePath)
{
    std::error_code ec;
    fs::create_directories(fs::path(filePath).parent_path(), ec);
}

std::string accessErrorText(std::errc error)
{
    return std::make_error_code(error).message();
}

} // namespace vandry
