// Feeds arbitrary bytes to the downloading side of folder listings, as a saved queue file or a
// sharer's listing frame would bring them: the cache hands out every file, marks each done and
// counts progress, all without files on disk (empty bases). Also reads the bytes as a source
// lookup reply. Every walk must stay inside the buffer and end.
#include <cstdlib>

#include "store/listing_cache.h"
#include "store/listing_record.h"
#include "tasks/task_scheduler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vandry;
    const ByteSpan input(data, size);
    parseSourceReply(input);

    std::size_t records = 0;
    forEachListingRecord(input, [&](std::size_t, const ListingRecord&) { return ++records, true; });

    ListingCache cache;
    HostIdentity task{};
    task[0] = 1;
    if (cache.append(task, input, 0) < 0)
        std::abort();
    TaskRecord record;
    std::size_t handedOut = 0;
    while (cache.nextFile(task, record, {}, {}, false, true)) {
        cache.markFileDone(task, record);
        // Each record is handed out at most once with skipping set.
        if (++handedOut > records)
            std::abort();
    }
    int done = 0;
    const int percent = cache.progress(task, &done);
    if (percent < 0 || percent > 100 || done < 0)
        std::abort();
    cache.nextFile(task, record, {}, {}, true, false);
    cache.remove(task, false);
    if (cache.findCacheSlot(task) != -1)
        std::abort();
    return 0;
}
