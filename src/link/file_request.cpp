// The file request ('B'): the sharer opens the file it is asked for, the requester opens (or
// writes whole) its local copy.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "link/file_link.h"
#include "link/local_file_check.h"
#include "link/share_path.h"
#include "store/listing.h"
#include "store/posix_file.h"
#include "store/resume_store.h"

namespace vandry {

namespace {

// The text of the error the last failed system call left, or the given text without one.
std::string lastErrorText(std::string_view fallback)
{
    return errno != 0 ? accessErrorText(static_cast<std::errc>(errno)) : std::string(fallback);
}

// Why a download does not replace a file of the user's that has its name.
constexpr std::string_view kNameTaken = "本地已有同名的另一个文件";

// A file of the user's at `path` that does not hold `bytes`, which a small download must not replace.
bool anotherFileThere(const std::string& path, ByteSpan bytes, const ResumeStore& resume)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) || isPartialDownload(path, resume))
        return false;
    const auto held = readWholeFile(path, bytes.size());
    return !held || !std::ranges::equal(*held, bytes);
}

// Written beside the target and renamed over it, so a file is never seen half written.
bool writeWholeFile(const std::string& path, ByteSpan bytes)
{
    const std::string partial = stagedPath(path);
    auto file = PosixFile::open(partial, PosixFile::Mode::CreateWrite);
    const bool written = file.isOpen() && file.writeAt(0, bytes) && file.syncData();
    file.close();
    if (!written || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

} // namespace

bool FileLink::onFileFrame(std::uint8_t sub, ByteSpan payload)
{
    switch (sub) {
    case kSubFileRequest:
        return serveFileRequest(payload);
    case kSubFileAccepted:
        return onFileAccepted(payload);
    case kSubSmallFile:
        return onSmallFile(payload);
    default:
        return true;
    }
}

bool FileLink::serveFileRequest(ByteSpan payload)
{
    // A link serves one file after another (a folder task asks for each on the same link).
    if (role_ != LinkRole::Sharer || (phase_ != LinkPhase::Greeted && phase_ != LinkPhase::Serving))
        return false;
    ByteReader in(payload);
    auto record = parseTaskRecord(in);
    if (!record)
        return false;
    source_ = {};
    stream_.close();
    phase_ = LinkPhase::Serving;
    const auto target = resolveSharedFile(record->remotePath, env_.roots.shareRoot);
    if (!target.ok()) {
        refuseRequest(accessErrorText(target.error));
        return true;
    }
    errno = 0;
    const auto result = stream_.open(target.path, record->info, false, taskId_);
    if (result == OpenResult::TooSmall) {
        sendSmallFile(target.path);
    } else if (result != OpenResult::Ok) {
        refuseRequest(lastErrorText(kReportServeFailed.text));
    } else {
        // The answer describes the file as this side has it; the path stays the requester's.
        const auto answer = encodeTaskRecord(*record);
        std::copy(answer.begin(), answer.end(), sendPayload().begin());
        sendFrame(answer.size(), kFrameFile, kSubFileAccepted);
        markTrxferException(kReportFileServed);
    }
    return true;
}

void FileLink::sendSmallFile(const std::string& path)
{
    const auto file = PosixFile::open(path, PosixFile::Mode::Read);
    const auto size = file.size();
    if (!file.isOpen() || !size || *size >= kBlockSize) {
        refuseRequest(std::string(kReportServeFailed.text));
        return;
    }
    const auto payload = sendPayload().first(kBlockSize);
    const std::size_t read = file.readAt(0, payload);
    if (read != *size) {
        refuseRequest(std::string(kReportServeFailed.text));
        return;
    }
    sentBytes_ += read;
    sendFrame(read, kFrameFile, kSubSmallFile);
}

void FileLink::refuseRequest(const std::string& reason)
{
    markTrxferException(kReportServeFailed.withText(reason));
}

bool FileLink::onFileAccepted(ByteSpan payload)
{
    if (phase_ != LinkPhase::Requesting)
        return false;
    ByteReader in(payload);
    const auto answer = parseTaskRecord(in);
    if (!answer)
        return false;
    // The sharer has the file open: whatever was asked about it ahead gets its answers.
    requestsDroppedOnRefusal_ = 0;
    // Only the description comes from the sharer; where the file goes is this side's own choice.
    const auto target = resolveDownloadFile(request_.localPath);
    if (!target.ok()) {
        refuseLocalFile(accessErrorText(target.error));
        return true;
    }
    ensureDirectories(target.path);
    FileInfoBlock info = answer->info;
    stream_.setHandsOverStagedFiles(dirMode_ && env_.folders.finisher);
    errno = 0;
    const OpenResult opened = stream_.open(target.path, info, true, taskId_);
    if (opened != OpenResult::Ok) {
        refuseLocalFile(opened == OpenResult::NameTaken ? std::string(kNameTaken)
                                                        : lastErrorText(kReportServeFailed.text));
        return true;
    }
    request_.info = info;
    phase_ = LinkPhase::Fetching;
    unsavedBytes_ = 0;
    if (reportAndContinue(kReportFileOpened.withText(request_.localPath)) && !mapSentWithRequest_)
        sendMap();
    return true;
}

bool FileLink::onSmallFile(ByteSpan payload)
{
    if (phase_ != LinkPhase::Requesting)
        return false;
    const auto target = resolveDownloadFile(request_.localPath);
    if (!target.ok()) {
        refuseLocalFile(accessErrorText(target.error));
        return true;
    }
    ensureDirectories(target.path);
    if (anotherFileThere(target.path, payload, env_.streams.resume())) {
        refuseLocalFile(std::string(kNameTaken));
        return true;
    }
    if (!writeWholeFile(target.path, payload)) {
        markTrxferException(kReportWriteFailed);
        return true;
    }
    // A partial download of an earlier, larger file of that name is over.
    env_.streams.resume().remove(target.path);
    request_.info.size = payload.size();
    markTrxferException(kReportTransferEnded);
    return true;
}

// The user learns why, the sharer gets an error report, and the transfer ends.
void FileLink::refuseLocalFile(const std::string& reason)
{
    // In a folder task one file's failure ends that file only: the sharer is not told (its error
    // report would end the link) and the user reads it in the task's state, not a message box.
    if (dirMode_) {
        markTrxferException(kReportWriteFailed.withText(reason));
        return;
    }
    const auto conversation = conversation_;
    env_.events.localFileFailed(request_.localPath, reason);
    if (conversation == conversation_ && reportAndContinue(kReportServeFailed.withText(reason)))
        markTrxferException(kReportWriteFailed);
}

} // namespace vandry
