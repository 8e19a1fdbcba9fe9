#pragma once
// A file download whose local name is already taken: the window asks whether to go on with the
// file that is there, keep both under a new name, or cancel.

#include <cstdint>
#include <optional>
#include <string>

#include "store/resume_store.h"

namespace vandry {

struct NameClash {
    // Going on makes sense: a partial download of a file of the sharer's size, or a file of
    // that size, which the download then checks block for block against the sharer's digest.
    bool mayResume = false;
    std::string keepBothPath; // the first free "name (2).ext" in the same folder
};

// nullopt when nothing is at `localPath`.
std::optional<NameClash> findNameClash(const std::string& localPath, std::uint64_t remoteSize,
                                       const ResumeStore& resume);

// "/dl/song (2).mp3" for "/dl/song.mp3", counting up past names that are taken.
std::string freeNameBeside(const std::string& localPath);

} // namespace vandry
