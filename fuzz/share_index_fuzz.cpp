// Answers share queries with fuzzer-chosen text, flags and capacity. Two indexes are built once:
// one from a small tree written to a temporary folder (removed again at once), one laid out from
// memory with so many long folder names that the folder part fills up. Input: byte 0 picks the
// index, byte 1 is the flags, bytes 2-3 the capacity, the rest the text.
//
// Every result must be a known code; nothing may be written at or beyond the capacity, nor to
// bytes 2 and 8-67, nor anywhere unless the code is 0 or 2; a written answer must hold together:
// its size, the zeros closing each part, strides inside their parts, parents naming folders.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "store/share_index.h"

namespace {
using namespace vandry;

constexpr std::uint8_t kFill = 0xA5;

void writeTree(const std::filesystem::path& root)
{
    for (const char* folder : {"Music/Rock/Deep", "doc/rock", "A", "ab/cd/ef/gh", "Ünïcode"})
        std::filesystem::create_directories(root / folder);
    for (const char* file : {"a.txt", "Readme.MD", "song.mp3", "xsong.mp3", "Music/intro.mp3", "Music/Rock/live.ogg",
                             "Music/Rock/Deep/track.ogg", "doc/manual.pdf", "A/b", "Ünïcode/Ärger.txt"})
        std::ofstream(root / file) << "x";
    std::ofstream(root / std::string(254, 'L')) << "long";
    // Enough files that common substrings overflow the file part, and a folder's files cut it.
    char name[32];
    for (int i = 0; i < 4500; ++i) {
        std::snprintf(name, sizeof name, "Music/f%04d.dat", i);
        std::ofstream(root / name);
    }
}

ShareIndex diskIndex()
{
    char pattern[] = "/tmp/vandry_share_index_fuzz_XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr)
        std::abort();
    const std::filesystem::path root = std::filesystem::path(made) / "Share";
    writeTree(root);
    ShareIndex index;
    index.build(root.string());
    std::filesystem::remove_all(made);
    if (!index.ready() || index.stats().files < 4500)
        std::abort();
    return index;
}

ShareIndex wideIndex()
{
    SharedFolder top;
    for (int i = 0; i < 2000; ++i) {
        SharedFolder folder;
        folder.name = "folder_" + std::string(30, 'x') + std::to_string(1000 + i);
        folder.files.push_back({"inside.txt", 1});
        top.folders.push_back(folder);
    }
    ShareIndex index;
    index.install(layoutShareIndex("/srv/Deep/share", top));
    return index;
}

bool untouched(ByteSpan bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == kFill; });
}

// Entries back to back, strides inside the part; returns the entry positions.
template <typename ReadRecord>
std::vector<std::uint32_t> entries(ByteSpan names, ByteSpan records, std::size_t minStride, ReadRecord read)
{
    std::vector<std::uint32_t> positions;
    for (std::size_t at = 0; at < names.size();) {
        if (names[at] != '|' || names.size() - at < minStride)
            std::abort();
        const std::size_t stride = read(records, at).stride;
        if (stride < minStride || stride > names.size() - at)
            std::abort();
        positions.push_back(static_cast<std::uint32_t>(at));
        at += stride;
    }
    return positions;
}

void checkAnswer(ByteSpan block, std::size_t capacity)
{
    const std::size_t fileLength = loadU16le(block, 4);
    const std::size_t folderLength = loadU16le(block, 6);
    const std::size_t size = 76 + 2 * (fileLength + folderLength);
    if (loadU16le(block, 0) != 68 || size >= capacity || !untouched(block.subspan(size, capacity - size)))
        std::abort();
    ByteReader in(block.first(size));
    in.skip(68);
    const auto part = [&in](std::size_t length) {
        const ByteSpan bytes = in.span(length);
        if (in.u16le() != 0)
            std::abort();
        return bytes;
    };
    const ByteSpan fileNames = part(fileLength);
    const ByteSpan fileRecords = part(fileLength);
    const ByteSpan folderNames = part(folderLength);
    const ByteSpan folderRecords = part(folderLength);
    const auto folders = entries(folderNames, folderRecords, kFolderRecordSize, readFolderRecord);
    const auto files = entries(fileNames, fileRecords, kFileRecordSize, readFileRecord);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        const auto record = readFolderRecord(folderRecords, folders[i]);
        const bool top = record.parent == kNoParentFolder;
        if (record.mark == kUnmarked || top != (i == 0) ||
            (!top &&
             (record.parent >= folders[i] || !std::binary_search(folders.begin(), folders.end(), record.parent))))
            std::abort();
    }
    for (const auto at : files) {
        if (!std::binary_search(folders.begin(), folders.end(), readFileRecord(fileRecords, at).parent))
            std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ShareIndex disk = diskIndex();
    static ShareIndex wide = wideIndex();
    static std::vector<std::uint8_t> buffer(65536 + 64);
    if (size < 4)
        return 0;
    ShareIndex& index = data[0] % 2 == 0 ? disk : wide;
    const std::uint8_t flags = data[1];
    const std::size_t capacity = loadU16le(ByteSpan(data, size), 2);
    const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);

    std::fill(buffer.begin(), buffer.end(), kFill);
    const int code = index.query(text, buffer, capacity, flags);
    const ByteSpan written(buffer);
    if (text.size() >= kQueryTextLimit && code != kQueryNotReady)
        std::abort();
    if (!untouched(written.subspan(std::min(capacity, written.size()))) || written[2] != kFill ||
        !untouched(written.subspan(8, 60)))
        std::abort();
    switch (code) {
    case kQueryAnswered:
    case kQueryCut:
        checkAnswer(written, capacity);
        break;
    case kQueryTooBig:
    case kQueryNoFolder:
    case kQueryOutside:
    case kQueryNothing:
    case kQueryNotReady:
        if (!untouched(written))
            std::abort();
        break;
    default:
        std::abort();
    }
    return 0;
}
