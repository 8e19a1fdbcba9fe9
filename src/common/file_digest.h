#pragma once
// FileDigest: the MD5 of the first min(size, 5 MiB) bytes of a file. Cheap enough to compute for
// every shared file while still telling apart files of the same name and size.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/md5.h"

namespace vandry {

using FileDigest = Md5Digest;

inline constexpr std::uint64_t kFileDigestPrefix = 5 * 1024 * 1024;

// Nothing when the file cannot be opened or a read fails.
std::optional<FileDigest> computeFileDigest(const std::filesystem::path& file);
// The 32 lower-case hexadecimal digits of the text form.
std::string fileDigestText(const FileDigest& digest);

} // namespace vandry
