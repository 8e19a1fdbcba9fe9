// Runs the segment scheduler on hostile input: this copy's block map, the ranges two other links
// hold (one of them fetching from the same sharer) and the sharer's map payload all come from
// the input. A range the scheduler hands out must lie inside the file, hold no block already
// present and be one the map can record: anything else would fetch the same blocks for ever.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "link/segment_scheduler.h"
#include "store/resume_store.h"

namespace {
using namespace vandry;

constexpr std::uint64_t kFileSize = std::uint64_t{1} << 30;

class Streams final : public OpenStreams {
public:
    void forEachStream(const std::function<void(const FileStream&)>& visit) const override
    {
        for (const auto& stream : list)
            visit(*stream);
    }
    std::vector<std::unique_ptr<FileStream>> list;
};

// One file of 2^20 blocks, open three times for writing, for the whole run.
struct Fixture {
    Fixture()
    {
        std::filesystem::create_directories(folder);
        FileInfoBlock info;
        info.setDigest("00112233445566778899aabbccddeeff");
        info.describe(kFileSize);
        for (int i = 0; i < 3; ++i) {
            streams.list.push_back(std::make_unique<FileStream>(table, streams));
            FileInfoBlock asked = info;
            if (streams.list.back()->open((folder / "file.bin").string(), asked, true, HostIdentity{1}) !=
                OpenResult::Ok)
                std::abort();
        }
    }
    ~Fixture()
    {
        streams.list.clear();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    // Declared first: the resume store below keeps its records in it.
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("vandry_scheduler_fuzz_" + std::to_string(::getpid()));
    ResumeStore resume{folder / "resume"};
    StreamTable table{resume};
    Streams streams;
};

BlockMap mapFrom(ByteReader& in, std::uint32_t blockCount)
{
    const std::size_t bytes = std::min<std::size_t>(in.remaining(), (in.u8() % 65) * 8u);
    std::vector<std::uint8_t> raw(bytes);
    for (auto& byte : raw)
        byte = in.u8();
    std::vector<std::uint32_t> boundaries;
    ByteReader values(raw);
    for (std::uint32_t last = 0; values.remaining() >= 4;) {
        last += 1 + values.u32le() % 4096; // rising, so always canonical
        if (last > blockCount)
            break;
        boundaries.push_back(last);
    }
    if (boundaries.size() % 2 != 0)
        boundaries.pop_back();
    return *BlockMap::fromBoundaries(boundaries);
}

// Another link's range lies in a gap of the map, as ranges the scheduler handed out do.
FetchRange rangeFrom(ByteReader& in, const BlockMap& map, std::uint32_t blockCount)
{
    BlockMap gaps = BlockMap::whole(blockCount);
    applyRanges(map, gaps, false);
    if (gaps.empty() || in.u8() % 4 == 0)
        return {};
    const BlockRange gap = gaps.range(in.u8() % gaps.rangeCount());
    const std::uint32_t start = gap.start + in.u16le() % (gap.end - gap.start);
    const std::uint32_t end = start + 1 + in.u16le() % (gap.end - start);
    return {start, end, start + in.u16le() % (end - start + 1)};
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Fixture fixture;
    ByteReader in(ByteSpan(data, size));
    FileStream& self = *fixture.streams.list[0];
    StreamEntry& entry = *self.entry();
    const std::uint32_t blockCount = entry.info.blockCount;
    entry.map = mapFrom(in, blockCount);
    self.range() = {};
    fixture.streams.list[1]->range() = rangeFrom(in, entry.map, blockCount);
    fixture.streams.list[2]->range() = rangeFrom(in, entry.map, blockCount);
    const std::size_t payloadSize = std::min<std::size_t>(in.remaining(), 1024);
    std::vector<std::uint8_t> payload(payloadSize);
    for (auto& byte : payload)
        byte = in.u8();

    std::vector<ScheduledLink> others{{fixture.streams.list[1].get(), HostIdentity{7}, LinkIndex{2}},
                                      {fixture.streams.list[2].get(), HostIdentity{8}, LinkIndex{3}}};
    const ScheduledLink link{&self, HostIdentity{7}, LinkIndex{1}};
    const auto outcome = scheduleSegment(link, others, payload);
    if (outcome.result != ScheduleResult::Fetch)
        return 0;
    const FetchRange chosen = self.range();
    if (chosen.start >= chosen.end || chosen.end > blockCount || chosen.position != chosen.start)
        std::abort();
    for (std::uint32_t block = chosen.start; block < chosen.end; block += 1 + (chosen.end - block) / 17)
        if (entry.map.runFrom(block) != 0)
            std::abort();
    // What fetching the range from its start adds must fit the map.
    BlockMap after = entry.map;
    after.addRange(chosen.start, chosen.start + 1);
    if (after.countBlocks() <= entry.map.countBlocks())
        std::abort();
    return 0;
}
