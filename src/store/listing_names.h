#pragma once
// Checks on the names a sharer puts in its listings before they become local paths: a name must
// stay one component below the folder it is listed in.

#include <string_view>

namespace vandry {

// Not empty, not "." or "..", and without "/", "\" or a zero byte.
bool isPlainName(std::string_view name);
// Every component between the "\" separators of a wire folder path is a plain name.
bool isPlainWireFolder(std::string_view wire);
// A sharer's name that may become part of a local path: plain (or, for a folder, every component
// plain) and valid UTF-8.
bool isSafeListedName(std::string_view name);
bool isSafeListedFolder(std::string_view wire);

} // namespace vandry
