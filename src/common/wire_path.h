#pragma once
// Names in wire paths, which use "\\" separators and start at a share's root ("\\dir\\file").

#include <string>
#include <string_view>

namespace vandry {

// The last component of a wire path; empty when the path names a folder (ends in "\\").
std::string wireFileName(std::string_view wirePath);

} // namespace vandry
