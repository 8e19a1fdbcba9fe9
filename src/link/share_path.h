#pragma once
// Paths a link serves or writes, and how they travel.
//
// On the wire a path inside a share starts with "\" and separates with "\", relative to the
// sharer's share root; a path starting with "/" is a full path on the sharer. Locally every path
// separates with "/". wireToLocalPath and localToWirePath are the only conversions.
//
// A peer chooses the path it asks for, and the sharer echoes back what it likes, so neither is
// trusted: a served file must lie inside the share root and a written file inside the download
// root, both after following symbolic links. Roots are canonicalised too, so a root that is
// itself a link works.

#include <string>
#include <string_view>
#include <system_error>

namespace vandry {

std::string wireToLocalPath(std::string_view wire);
std::string localToWirePath(std::string_view local);
// A full path on the sharer rather than one inside its share.
bool wirePathIsFull(std::string_view wire);
// The last component of a wire path; empty when the path names a folder (ends in "\\").
std::string wireFileName(std::string_view wire);

struct ConfinedPath {
    std::string path; // canonical, when error is empty
    std::errc error{};
    bool ok() const { return error == std::errc{}; }
};

// The regular file a peer asks for. permission_denied when it lies outside the share root (or
// there is no share root), otherwise what resolving it failed with.
ConfinedPath resolveSharedFile(std::string_view wirePath, const std::string& shareRoot);
// The folder a neighbour asks to list, confined like a shared file; not_a_directory when it is
// not a folder.
ConfinedPath resolveSharedFolder(std::string_view wirePath, const std::string& shareRoot);
// Where a download of `localPath` is written. The path is this side's own choice (the user's, or
// the download folder and a plain name from a listing), so it may lie anywhere the user can
// write; permission_denied when it is relative, has a ".." step, does not end in a plain name, or
// ends in a link to nowhere. Folders on the way need not exist yet.
ConfinedPath resolveDownloadFile(const std::string& localPath);
// `path`, with symbolic links followed, is `root` or lies below it; false when either cannot be
// resolved.
bool staysInside(const std::string& path, const std::string& root);
// Creates the folders on the way to `filePath`; failures show when the file is opened.
void ensureDirectories(const std::string& filePath);

// The text an error report carries for a failed file access.
std::string accessErrorText(std::errc error);

} // namespace vandry
