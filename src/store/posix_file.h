#pragma once
// PosixFile: one open file descriptor with whole-buffer positional reads and writes at 64-bit
// offsets, so that files beyond 4 GiB work and no call depends on a shared file position.
// Interrupted calls are retried; nothing throws.

#include <cstdint>
#include <filesystem>
#include <optional>

#include "common/bytes.h"

namespace vandry {

class PosixFile {
public:
    enum class Mode {
        Read,        // read only
        ReadWrite,   // read-write, created if missing, content kept
        CreateWrite, // write only, created or emptied (temporary files)
    };

    PosixFile() = default;
    ~PosixFile() { close(); }
    PosixFile(PosixFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    PosixFile& operator=(PosixFile&& other) noexcept;
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    // Closed (isOpen() false) when the system refuses; errno tells why.
    static PosixFile open(const std::filesystem::path& path, Mode mode);

    bool isOpen() const { return fd_ >= 0; }
    void close();
    // Another descriptor of the same open file, which outlives this one's close.
    PosixFile duplicate() const;

    // Reads until `into` is full, the file ends or a read fails; returns the bytes read.
    std::size_t readAt(std::uint64_t offset, MutableByteSpan into) const;
    // Writes every byte or reports false.
    bool writeAt(std::uint64_t offset, ByteSpan bytes);
    std::optional<std::uint64_t> size() const;
    bool resize(std::uint64_t length);
    // Data (and the metadata needed to read it back) reaches the disk.
    bool syncData();
    bool sync();
    // Everything written to the file system holding the file reaches the disk, other files too.
    bool syncFileSystem();
    // The file system holding the file.
    std::optional<std::uint64_t> fileSystem() const;

private:
    explicit PosixFile(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Makes a rename or unlink inside `folder` durable.
bool syncFolder(const std::filesystem::path& folder);

// Replaces `file` with `bytes`: written and synced beside it, then renamed over it, so that a
// crash at any point leaves either the old file or the new one whole. False, with the old file
// untouched, when any step fails.
bool replaceFileAtomically(const std::filesystem::path& file, ByteSpan bytes);

} // namespace vandry
