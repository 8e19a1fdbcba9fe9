#include "common/file_digest.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "common/hex.h"

namespace vandry {

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
constexpr std::size_t kChunk = 64 * 1024;
} // namespace

std::optional<FileDigest> computeFileDigest(const std::filesystem::path& file)
{
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(file.c_str(), "rb"));
    if (!in)
        return std::nullopt;
    std::vector<std::uint8_t> chunk(kChunk);
    Md5 hash;
    std::uint64_t left = kFileDigestPrefix;
    while (left > 0) {
        const std::size_t want = left < kChunk ? static_cast<std::size_t>(left) : kChunk;
        const std::size_t got = std::fread(chunk.data(), 1, want, in.get());
        hash.update(ByteSpan(chunk.data(), got));
        left -= got;
        if (got < want)
            break;
    }
    if (std::ferror(in.get()))
        return std::nullopt;
    return hash.finish();
}

std::string fileDigestText(const FileDigest& digest)
{
    return hexEncode(digest);
}

} // namespace vandry
