// Throughput of the work every download and every datagram goes through: the file digest,
// LZW on record lists, and block-map bookkeeping.

#include <benchmark/benchmark.h>

#include <random>

#include "common/md5.h"
#include "discovery/host_record.h"
#include "discovery/lzw.h"
#include "link/block_map.h"

namespace {

void Md5FiveMebibytes(benchmark::State& state)
{
    std::vector<std::uint8_t> data(5 << 20);
    std::mt19937 random(1);
    for (auto& byte : data)
        byte = static_cast<std::uint8_t>(random());
    for (auto _ : state)
        benchmark::DoNotOptimize(vandry::md5(data));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(Md5FiveMebibytes);

// A server's answer: 1000 records of copies that share most of their bytes.
std::vector<std::uint8_t> recordList()
{
    std::vector<std::uint8_t> bytes;
    vandry::ByteWriter out(bytes);
    for (int i = 0; i < 1000; ++i) {
        vandry::HostRecord record;
        record.identity[8] = static_cast<std::uint8_t>(i);
        record.identity[9] = static_cast<std::uint8_t>(i >> 8);
        record.mapAddr = 0xC0A80000u + static_cast<std::uint32_t>(i);
        record.portUdp = 1552;
        record.setNickname("copy-" + std::to_string(i));
        vandry::encodeHostRecord(record, out);
    }
    return bytes;
}

void LzwEncodeRecordList(benchmark::State& state)
{
    const auto list = recordList();
    for (auto _ : state)
        benchmark::DoNotOptimize(vandry::lzwEncode(list));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * list.size()));
}
BENCHMARK(LzwEncodeRecordList);

void LzwDecodeRecordList(benchmark::State& state)
{
    const auto list = recordList();
    const auto packed = vandry::lzwEncode(list);
    for (auto _ : state)
        benchmark::DoNotOptimize(vandry::lzwDecode(packed, 65535));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * list.size()));
}
BENCHMARK(LzwDecodeRecordList);

// The scheduler's pattern: ranges added and cut out all over a large file.
void BlockMapRandomRanges(benchmark::State& state)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<std::uint32_t> block(0, 1'000'000);
    for (auto _ : state) {
        vandry::BlockMap map;
        for (int i = 0; i < 1000; ++i) {
            const std::uint32_t a = block(random);
            const std::uint32_t b = a + block(random) % 5000;
            if (i % 3 == 2)
                map.subtractRange(a, b);
            else
                map.addRange(a, b);
        }
        benchmark::DoNotOptimize(map.countBlocks());
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BlockMapRandomRanges);

} // namespace
