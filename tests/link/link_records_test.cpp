#include <gtest/gtest.h>

#include "link/link_records.h"

using namespace vandry;

namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& bytes, std::size_t at, std::string_view text)
{
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

TaskRecord sampleTask()
{
    TaskRecord task;
    task.info.setDigest("00112233445566778899aabbccddeeff");
    task.info.describe(3000);
    task.directory = 1;
    task.reserved57 = {0xE1, 0xE2};
    task.attribute = 0x20;
    task.remotePath = "\\共享\\a.txt";
    task.localPath = "/home/u/a.txt";
    task.reserved580 = {1, 2, 3, 4};
    return task;
}

TEST(LinkRecords, TaskRecordGoldenBytes)
{
    const TaskRecord task = sampleTask();
    const Bytes bytes = encodeTaskRecord(task);
    ASSERT_EQ(bytes.size(), TaskRecord::kSize);

    Bytes golden(TaskRecord::kSize, 0);
    put(golden, 0, "00112233445566778899aabbccddeeff");
    golden[33] = 0xD3; // marker 0x00C6D300
    golden[34] = 0xC6;
    golden[40] = 0xB8; // size 3000
    golden[41] = 0x0B;
    golden[48] = 3; // blocks
    golden[56] = 1;
    golden[57] = 0xE1;
    golden[58] = 0xE2;
    golden[59] = 0x20;
    put(golden, 60, "\\共享\\a.txt");
    put(golden, 320, "/home/u/a.txt");
    put(golden, 580, "\x01\x02\x03\x04");
    EXPECT_EQ(bytes, golden);

    ByteReader in(bytes);
    EXPECT_EQ(parseTaskRecord(in), task);
    ByteReader shortInput(ByteSpan(bytes).first(TaskRecord::kSize - 1));
    EXPECT_FALSE(parseTaskRecord(shortInput));
}

TEST(LinkRecords, TaskRecordPathsAreCutOnACharacterAndKeepTheirZero)
{
    TaskRecord task;
    task.remotePath = std::string(258, 'a') + "共"; // 261 bytes: the character does not fit
    task.localPath = std::string(300, 'b');
    const Bytes bytes = encodeTaskRecord(task);
    EXPECT_EQ(bytes[60 + 257], 'a');
    EXPECT_EQ(bytes[60 + 258], 0);
    EXPECT_EQ(bytes[320 + 258], 'b');
    EXPECT_EQ(bytes[320 + 259], 0);
    ByteReader in(bytes);
    const auto parsed = parseTaskRecord(in);
    EXPECT_EQ(parsed->remotePath, std::string(258, 'a'));
    EXPECT_EQ(parsed->localPath, std::string(259, 'b'));
}

TEST(LinkRecords, TaskRecordFromAPeerWithoutZerosStaysInItsFields)
{
    Bytes bytes(TaskRecord::kSize, 'x');
    ByteReader in(bytes);
    const auto task = parseTaskRecord(in);
    ASSERT_TRUE(task);
    EXPECT_EQ(task->remotePath.size(), TaskRecord::kPathSize);
    EXPECT_EQ(task->localPath.size(), TaskRecord::kPathSize);
    EXPECT_EQ(in.remaining(), 0u);
}

TEST(LinkRecords, PeerInfoGoldenBytes)
{
    PeerInfo peer;
    peer.neighbour.host.identity[0] = 0x11;
    peer.neighbour.host.portTcp = 1552;
    peer.neighbour.host.setNickname("甲");
    peer.neighbour.directAddr = 0xC0A80001;
    peer.neighbour.datagramOnly = 1;
    peer.neighbour.lastSeen = 0x01020304;
    peer.carried[15] = 0x77;
    const Bytes bytes = encodePeerInfo(peer);

    Bytes golden(PeerInfo::kSize, 0);
    golden[0] = 0x11;
    golden[38] = 0x10; // TCP port 1552
    golden[39] = 0x06;
    put(golden, 44, "甲");
    golden[60] = 0xC0; // direct address 192.168.0.1, network order
    golden[61] = 0xA8;
    golden[63] = 0x01;
    golden[70] = 1;
    put(golden, 72, "\x04\x03\x02\x01");
    golden[91] = 0x77;
    EXPECT_EQ(bytes, golden);

    ByteReader in(bytes);
    EXPECT_EQ(parsePeerInfo(in), peer);
    ByteReader shortInput(ByteSpan(bytes).first(91));
    EXPECT_FALSE(parsePeerInfo(shortInput));
    EXPECT_EQ(PeerInfo::kHelloTailSize, 32u);
}

TEST(LinkRecords, SourceInfoGoldenBytes)
{
    SourceInfo source;
    source.digest[0] = 0xD0;
    source.sizeLow = 0xAABBCCDD;
    source.source[15] = 0x5A;
    Bytes bytes;
    ByteWriter out(bytes);
    encodeSourceInfo(source, out);
    Bytes golden(SourceInfo::kSize, 0);
    golden[0] = 0xD0;
    put(golden, 16, "\xDD\xCC\xBB\xAA");
    golden[35] = 0x5A;
    EXPECT_EQ(bytes, golden);
    ByteReader in(bytes);
    EXPECT_EQ(parseSourceInfo(in), source);
    ByteReader shortInput(ByteSpan(bytes).first(35));
    EXPECT_FALSE(parseSourceInfo(shortInput));
}

} // namespace
