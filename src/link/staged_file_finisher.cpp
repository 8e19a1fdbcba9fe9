#include "link/staged_file_finisher.h"

#include <cstdint>
#include <cstdio>
#include <map>

namespace vandry {

void StagedFileFinisher::place(StagedFile staged, std::function<void(bool placed)> done)
{
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back({std::move(staged), std::move(done)});
        if (placing_)
            return;
        placing_ = true;
    }
    worker_.post([this] { placeWaiting(); });
}

void StagedFileFinisher::placeWaiting()
{
    std::vector<Waiting> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(waiting_);
        placing_ = false;
    }
    // One sync per file system holding files of the batch; each file's own sync for a few.
    const bool together = batch.size() >= kFileSystemSyncBatch;
    std::map<std::uint64_t, bool> fileSystemSynced;
    for (auto& [staged, done] : batch) {
        bool synced = false;
        if (!together) {
            synced = staged.file.syncData();
        } else if (const auto fileSystem = staged.file.fileSystem()) {
            const auto known = fileSystemSynced.find(*fileSystem);
            synced = known != fileSystemSynced.end() ? known->second
                                                     : (fileSystemSynced[*fileSystem] = staged.file.syncFileSystem());
        }
        const bool placed = synced && std::rename(staged.stagedPath.c_str(), staged.path.c_str()) == 0;
        if (!placed)
            std::remove(staged.stagedPath.c_str());
        staged.file.close();
        loop_.post([done = std::move(done), placed] { done(placed); });
    }
}

} // namespace vandry
