#pragma once
// Records that travel inside link frames (integers little-endian; texts zero-terminated UTF-8 in
// fixed fields, cut on a character boundary so that a zero always remains).
//
// TaskRecord (584 bytes): the request of 'B' and 'C' frames, also kept by the task files.
//    0 FileInfoBlock (56)   56 u8 directory flag   57 reserved[2]   59 u8 attribute (task files)
//   60 remote path[260]: relative to the sharer's shared folder, starting with "\", or a full path
//  320 local path[260]: where the requester writes the file   580 reserved[4]
// PeerInfo (92 bytes): the other side's NeighbourRecord (76) and 16 bytes carried unread.
// SourceInfo (36 bytes): 16-byte file digest, u32 file size (low 32 bits), 16-byte source identity.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/identity.h"
#include "discovery/host_record.h"
#include "link/file_info_block.h"

namespace vandry {

struct TaskRecord {
    static constexpr std::size_t kSize = 584;
    static constexpr std::size_t kPathSize = 260;

    FileInfoBlock info;
    std::uint8_t directory = 0;
    std::array<std::uint8_t, 2> reserved57{};
    std::uint8_t attribute = 0;
    std::string remotePath;
    std::string localPath;
    std::array<std::uint8_t, 4> reserved580{};

    bool operator==(const TaskRecord&) const = default;
};
static_assert(TaskRecord::kSize == FileInfoBlock::kSize + 1 + 2 + 1 + 2 * TaskRecord::kPathSize + 4);

struct PeerInfo {
    static constexpr std::size_t kSize = 92;
    // A hello carries the requester's own HostRecord followed by this part of its PeerInfo of the sharer.
    static constexpr std::size_t kHelloTailOffset = HostRecord::kSize;
    static constexpr std::size_t kHelloTailSize = kSize - kHelloTailOffset;

    NeighbourRecord neighbour;
    std::array<std::uint8_t, 16> carried{};

    const HostIdentity& identity() const { return neighbour.host.identity; }

    bool operator==(const PeerInfo&) const = default;
};
static_assert(PeerInfo::kSize == NeighbourRecord::kSize + 16);

struct SourceInfo {
    static constexpr std::size_t kSize = 36;

    std::array<std::uint8_t, 16> digest{};
    std::uint32_t sizeLow = 0;
    HostIdentity source{};

    bool operator==(const SourceInfo&) const = default;
};
static_assert(SourceInfo::kSize == 16 + 4 + 16);

// Each parser reads one record and returns nullopt when fewer bytes than its size are left.
void encodeTaskRecord(const TaskRecord& record, ByteWriter& out);
std::vector<std::uint8_t> encodeTaskRecord(const TaskRecord& record);
std::optional<TaskRecord> parseTaskRecord(ByteReader& in);

void encodePeerInfo(const PeerInfo& info, ByteWriter& out);
std::vector<std::uint8_t> encodePeerInfo(const PeerInfo& info);
std::optional<PeerInfo> parsePeerInfo(ByteReader& in);

void encodeSourceInfo(const SourceInfo& info, ByteWriter& out);
std::optional<SourceInfo> parseSourceInfo(ByteReader& in);

// Fixed text fields shared by the link records.
void encodeFixedText(std::string_view text, std::size_t fieldSize, ByteWriter& out);
std::string parseFixedText(ByteReader& in, std::size_t fieldSize);

} // namespace vandry
