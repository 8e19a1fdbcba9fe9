// make_partial_file SOURCE DEST START END [START END ...]: writes DEST as a copy would hold a
// partial download of SOURCE: the given block ranges copied, zeros elsewhere, and the resume
// trailer naming those ranges over its last 576 bytes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/file_digest.h"
#include "link/block_map.h"
#include "link/file_info_block.h"
#include "store/resume_trailer.h"

using namespace vandry;

int main(int argc, char** argv)
{
    if (argc < 5 || argc % 2 != 1) {
        std::fprintf(stderr, "usage: make_partial_file SOURCE DEST START END [START END ...]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto digest = computeFileDigest(argv[1]);
    if (!in || !digest) {
        std::fprintf(stderr, "make_partial_file: cannot read %s\n", argv[1]);
        return 1;
    }
    FileInfoBlock info;
    info.setDigest(fileDigestText(*digest));
    info.describe(source.size());
    BlockMap map;
    for (int i = 3; i + 1 < argc; i += 2)
        map.addRange(static_cast<std::uint32_t>(std::strtoul(argv[i], nullptr, 10)),
                     static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10)));
    const auto placement = placeTrailer(source.size(), info, map);
    if (!placement) {
        std::fprintf(stderr, "make_partial_file: no room for a trailer\n");
        return 1;
    }
    std::vector<char> partial(source.size(), 0);
    for (std::size_t r = 0; r < placement->map.rangeCount(); ++r) {
        const auto range = placement->map.range(r);
        const std::size_t from = std::size_t{range.start} * kBlockSize;
        const std::size_t to = std::min(source.size(), std::size_t{range.end} * kBlockSize);
        std::copy(source.begin() + from, source.begin() + to, partial.begin() + from);
    }
    const auto trailer = encodeResumeTrailer(info, placement->map);
    partial.resize(std::max(partial.size(), placement->offset + kTrailerSize));
    std::copy(trailer.begin(), trailer.end(), partial.begin() + placement->offset);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(partial.data(), static_cast<std::streamsize>(partial.size()));
    return out ? 0 : 1;
}
