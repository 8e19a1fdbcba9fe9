#pragma once
// The stream table: every file this running copy serves or receives, once, whatever the number
// of links reading or writing it. 128 entries; one table per running copy, owned by it and
// handed to the links. Links that serve and links that receive the same path share one entry,
// so blocks written by a receiving link become servable at once.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/identity.h"
#include "link/block_map.h"
#include "link/file_info_block.h"

namespace vandry {

class ResumeStore;

struct StreamEntry {
    FileInfoBlock info;
    std::uint32_t rate = 0;       // smoothed blocks per second, kept by the main window's timer
    std::uint32_t previousKb = 0; // receivedKb at the timer's previous second
    std::uint32_t receivedKb = 0; // blocks received so far: a progress counter
    std::string path;             // full local path, compared exactly
    BlockMap map;                 // blocks present in the local file
    HostIdentity ownerTask{};     // task of the first link that opened the entry for writing
    bool staged = false;          // written at stagedPath(path) until whole, then renamed to path
};

// A small file that is not there yet is written beside its place and renamed into it once whole:
// it needs neither a resume record nor a trailer, since an interrupted one simply starts again.
inline constexpr std::uint64_t kStagedFileLimit = 64 * 1024;

inline std::string stagedPath(std::string_view path)
{
    return std::string(path) + ".part~";
}

struct StreamSlot {
    std::uint8_t index = 0;
    bool operator==(const StreamSlot&) const = default;
};

class StreamTable {
public:
    static constexpr std::size_t kSlots = 128;

    // The resume records of partial files live in `resume`, which must outlive the table.
    explicit StreamTable(ResumeStore& resume) : resume_(resume) {}

    std::optional<StreamSlot> findByPath(std::string_view path) const;
    // The in-use entry a task writes, for the task list and the task scheduler.
    std::optional<StreamSlot> findByOwner(const HostIdentity& task) const;
    // Puts `entry` into the first free slot; nothing when the table is full.
    std::optional<StreamSlot> place(StreamEntry entry);
    void release(StreamSlot slot);

    bool inUse(StreamSlot slot) const { return used_[slot.index]; }
    StreamEntry& at(StreamSlot slot) { return entries_[slot.index]; }
    const StreamEntry& at(StreamSlot slot) const { return entries_[slot.index]; }
    ResumeStore& resume() { return resume_; }

private:
    ResumeStore& resume_;
    std::array<StreamEntry, kSlots> entries_{};
    // Kept apart from the block count so that no entry can be in use without its slot.
    std::array<bool, kSlots> used_{};
};

} // namespace vandry
