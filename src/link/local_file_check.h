#pragma once
// CheckLocalFile: what an existing local file holds, loaded into a stream entry. The first rule
// that applies:
//   - a resume record for the path (resume_store.h): the file is partial, with the recorded
//     blocks that its current length still holds;
//   - a valid trailer in the last 576 bytes (resume_trailer.h): the file is partial, with the
//     trailer's blocks that lie below the trailer;
//   - otherwise the file is complete: its size, the digest of its first min(size, 5 MiB) bytes
//     and the map (0, block count).
// receivedKb is set to the blocks present.

#include <string>

#include "link/stream_table.h"

namespace vandry {

class ResumeStore;

enum class CheckResult : int { Loaded = 0, Missing = 1, Unusable = 2 };

// For opening a stream. Missing: no such regular file, it cannot be opened or read, or its
// resume record is damaged. Unusable: a file of less than 1024 bytes without a resume record.
CheckResult checkLocalFile(const std::string& path, StreamEntry& entry, const ResumeStore& resume);

// For the task files, which only ask whether a file is there and what it holds. Missing: no
// such file. Unusable: below 1024 bytes, unreadable, a damaged record, or neither record nor
// trailer while `initialiseComplete` is false.
CheckResult checkLocalFileForTask(const std::string& path, StreamEntry& entry, const ResumeStore& resume,
                                  bool initialiseComplete);

// Whether the file at `path` is a download of ours in progress: it has a resume record (even a
// damaged one) or a trailer. Any other file there belongs to the user.
bool isPartialDownload(const std::string& path, const ResumeStore& resume);

} // namespace vandry
