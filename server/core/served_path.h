#pragma once
// The names a file request's path may hold. Downloads are served from one folder; the request path
// is split and checked here before it ever meets the file system, and the file system side then
// resolves symbolic links and confines the result to the folder (served_file.h).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandry {

inline constexpr std::size_t kMaxServedPathBytes = 1024;

// Splits the percent-encoded path of a request ("/a/b%20c") into its decoded names. nullopt for a
// path that does not begin with "/" or is too long, an empty name ("/" alone, "//", a trailing "/"),
// "." or "..", a name that holds '/', '\\' or a control byte once decoded, or a broken escape.
std::optional<std::vector<std::string>> servedPathNames(std::string_view encodedPath);

} // namespace vandry
