// The share name index on a share of 100,000 files: 1000 folders "album_000".."album_999" of 100
// files each, "track_0000.mp3".."track_9999.mp3" ten times over. The walk runs on a worker; the
// install and the queries run on the main thread, so those two must stay far below a frame.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "store/share_index.h"

namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;

class ShareOnDisk {
public:
    ShareOnDisk()
        : root_(std::filesystem::temp_directory_path() / ("vandry_index_bench_" + std::to_string(::getpid())) / "share")
    {
        for (int folder = 0; folder < kFolders; ++folder) {
            char name[32];
            std::snprintf(name, sizeof name, "album_%03d", folder);
            const auto path = root_ / name;
            std::filesystem::create_directories(path);
            for (int i = 0; i < kFilesPerFolder; ++i) {
                std::snprintf(name, sizeof name, "track_%04d.mp3", (folder * kFilesPerFolder + i) % 10000);
                const int fd = ::open((path / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                if (fd >= 0)
                    ::close(fd);
            }
        }
    }
    ~ShareOnDisk()
    {
        std::error_code ec;
        std::filesystem::remove_all(root_.parent_path(), ec);
    }
    ShareOnDisk(const ShareOnDisk&) = delete;
    ShareOnDisk& operator=(const ShareOnDisk&) = delete;

    std::string root() const { return root_.string(); }

private:
    std::filesystem::path root_;
};

const ShareOnDisk& share()
{
    static const ShareOnDisk disk;
    return disk;
}

const vandry::ShareIndexSnapshot& snapshot()
{
    static const auto scanned = vandry::scanShare(share().root());
    return scanned;
}

void ScanShare100kFiles(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(vandry::scanShare(share().root()));
    state.SetItemsProcessed(state.iterations() * kFolders * kFilesPerFolder);
}
BENCHMARK(ScanShare100kFiles)->Unit(benchmark::kMillisecond);

// The part of the scan that does not wait for the disk.
void LayoutIndex100kFiles(benchmark::State& state)
{
    const auto tree = vandry::readShareTree(share().root());
    for (auto _ : state)
        benchmark::DoNotOptimize(vandry::layoutShareIndex(share().root(), tree));
    state.SetItemsProcessed(state.iterations() * kFolders * kFilesPerFolder);
}
BENCHMARK(LayoutIndex100kFiles)->Unit(benchmark::kMillisecond);

void InstallSnapshot100kFiles(benchmark::State& state)
{
    vandry::ShareIndex index;
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = snapshot();
        state.ResumeTiming();
        index.install(std::move(copy));
    }
}
BENCHMARK(InstallSnapshot100kFiles)->Unit(benchmark::kMicrosecond);

// One query as the request server makes it: a 60000-byte destination. The expected result code
// is checked once, so a figure never stands for a different path through the query.
void runQuery(benchmark::State& state, const std::string& text, std::uint8_t flags, int expected)
{
    vandry::ShareIndex index;
    index.install(snapshot());
    std::vector<std::uint8_t> destination(60000);
    if (index.query(text, destination, destination.size(), flags) != expected) {
        state.SkipWithError("unexpected result code");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(index.query(text, destination, destination.size(), flags));
}

// The search box's flags: files and folders, any folder path. Ten files match, and their ten
// folders bring their other 990 files.
void QuerySearchBoxSubstring(benchmark::State& state)
{
    runQuery(state, "0423", vandry::kQueryFiles | vandry::kQueryFolders | vandry::kQueryAnyFolderPath, 0);
}
BENCHMARK(QuerySearchBoxSubstring)->Unit(benchmark::kMicrosecond);

// A substring of every name: refused (10) once the matches pass 65535 bytes.
void QueryCommonSubstring(benchmark::State& state)
{
    runQuery(state, ".mp3", vandry::kQueryFiles, vandry::kQueryOutside);
}
BENCHMARK(QueryCommonSubstring)->Unit(benchmark::kMicrosecond);

void QueryExactFileName(benchmark::State& state)
{
    runQuery(state, "track_0423.mp3", vandry::kQueryFiles | vandry::kQueryExactName | vandry::kQueryNoContainedFiles,
             0);
}
BENCHMARK(QueryExactFileName)->Unit(benchmark::kMicrosecond);

void QueryFolderPath(benchmark::State& state)
{
    std::string path = share().root() + "/album_423";
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    runQuery(state, path, vandry::kQueryFolders, 0);
}
BENCHMARK(QueryFolderPath)->Unit(benchmark::kMicrosecond);

void QueryShareRoot(benchmark::State& state)
{
    runQuery(state, "", vandry::kQueryShareRoot, 0);
}
BENCHMARK(QueryShareRoot)->Unit(benchmark::kMicrosecond);

} // namespace
