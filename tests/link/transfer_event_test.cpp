#include <gtest/gtest.h>

#include "link/link_report.h"
#include "link/transfer_event.h"

using namespace vandry;

namespace {

using Bytes = std::vector<std::uint8_t>;

TransferEvent sampleEvent()
{
    TransferEvent event;
    event.code = 0x23;
    event.linkIndex = 9;
    event.taskId[0] = 0x7A;
    event.peerIdentity[15] = 0x5B;
    event.text = "结束传输";
    event.path = "\\a.txt";
    event.source.sizeLow = 3000;
    return event;
}

TEST(TransferEvent, GoldenBytesAndRoundTrip)
{
    const TransferEvent event = sampleEvent();
    const Bytes bytes = encodeTransferEvent(event);
    ASSERT_EQ(bytes.size(), TransferEvent::kSize);
    Bytes golden(TransferEvent::kSize, 0);
    golden[0] = 0x23;
    golden[1] = 9;
    golden[4] = 0x7A;
    golden[35] = 0x5B;
    const std::string text = "结束传输";
    std::copy(text.begin(), text.end(), golden.begin() + 36);
    golden[296] = '\\';
    golden[297] = 'a';
    golden[298] = '.';
    golden[299] = 't';
    golden[300] = 'x';
    golden[301] = 't';
    golden[556 + 16] = 0xB8; // source size 3000
    golden[556 + 17] = 0x0B;
    EXPECT_EQ(bytes, golden);
    ByteReader in(bytes);
    EXPECT_EQ(parseTransferEvent(in), event);
    ByteReader shortInput(ByteSpan(bytes).first(595));
    EXPECT_FALSE(parseTransferEvent(shortInput));
}

TEST(TransferEvent, ErrorReportCarriesTheHeadOfTheEvent)
{
    const TransferEvent event = sampleEvent();
    const Bytes report = encodeErrorReport(event);
    ASSERT_EQ(report.size(), TransferEvent::kErrorReportSize);
    const Bytes whole = encodeTransferEvent(event);
    EXPECT_EQ(report, Bytes(whole.begin(), whole.begin() + 92));
    EXPECT_EQ(errorReportText(report), "结束传输");
}

TEST(TransferEvent, ErrorReportTextStopsAtTheFrameEnd)
{
    TransferEvent event;
    // 18 three-byte characters and two more bytes: the 56-byte cut splits the 19th character.
    for (int i = 0; i < 20; ++i)
        event.text += "错";
    const Bytes report = encodeErrorReport(event);
    std::string expected;
    for (int i = 0; i < 18; ++i)
        expected += "错";
    EXPECT_EQ(errorReportText(report), expected);
    EXPECT_EQ(errorReportText(ByteSpan(report).first(36 + 4)), "错");
    EXPECT_EQ(errorReportText(ByteSpan(report).first(36)), "");
    EXPECT_EQ(errorReportText({}), "");
    Bytes ascii(60, 0);
    std::fill(ascii.begin() + 36, ascii.end(), 'e');
    EXPECT_EQ(errorReportText(ascii), std::string(24, 'e'));
}

TEST(EventReport, TableEntries)
{
    struct Entry {
        LinkReport report;
        std::string_view text;
        std::uint8_t code;
        EventType type;
    };
    const Entry entries[] = {
        {kReportPreparing, "准备传输", 0x10, EventType::Status},
        {kReportNegotiating, "目录协商", 0x10, EventType::Status},
        {kReportQueryDone, "查询完成", 0x12, EventType::Status},
        {kReportWriteFailed, "文件写错误", 0x12, EventType::Status},
        {kReportPeerReadFailed, "对端读错误", 0x12, EventType::Status},
        {kReportSyncFailed, "同步失败", 0x03, EventType::Status},
        {kReportServeFailed, "数据精读错误", 0x01, EventType::Status},
        {kReportTransferEnded, "结束传输", 0x23, EventType::TransferEnded},
        {kReportNetworkLost, "网络断开", 0x20, EventType::NetworkLost},
        {kReportConnectFailed, "连接对端失败", 0x20, EventType::ConnectFailed},
        {kReportPeerBehind, "", 0x20, EventType::PeerBehind},
        {kReportFileServed, "", 0x20, EventType::FileServed},
        {kReportPeerFailed, "", 0x42, EventType::PeerFailed},
        {kReportSegmentsDone, "分段接收完成", 0x22, EventType::SegmentsDone},
        {kReportFileOpened, "", 0x20, EventType::FileOpened},
    };
    for (const auto& e : entries) {
        EXPECT_EQ(e.report.text, e.text);
        EXPECT_EQ(e.report.code, e.code) << e.text;
        EXPECT_EQ(e.report.type, e.type) << e.text;
    }
    EXPECT_EQ(static_cast<int>(EventType::FileOpened), 9);
    const LinkReport withPath = kReportFileOpened.withText("/home/u/a.txt");
    EXPECT_EQ(withPath.text, "/home/u/a.txt");
    EXPECT_EQ(withPath.code, 0x20);
    EXPECT_EQ(withPath.type, EventType::FileOpened);
}

TEST(EventReport, ClassAndActionSplit)
{
    EXPECT_EQ(reportAction(0x10), ReportAction::Nothing);
    EXPECT_EQ(reportAction(0x01), ReportAction::SendErrorReport);
    EXPECT_EQ(reportAction(0x12), ReportAction::EndTransfer);
    EXPECT_EQ(reportAction(0x03), ReportAction::EndTransferFinished);
    EXPECT_EQ(reportAction(0x23), ReportAction::EndTransferFinished);
    EXPECT_EQ(reportAction(0x24), ReportAction::ResetLink);
    EXPECT_EQ(reportAction(0x2F), ReportAction::ResetLink);
    EXPECT_FALSE(reportShown(0x03)); // "同步失败" is logged, never shown
    EXPECT_FALSE(reportShown(0x01));
    EXPECT_TRUE(reportShown(0x10));
    EXPECT_FALSE(reportDescribesFile(0x12));
    EXPECT_TRUE(reportDescribesFile(0x20));
    EXPECT_TRUE(reportDescribesFile(0x42));
    EXPECT_EQ(reportClass(0x42), 0x40);
}

TEST(EventReport, LogLine)
{
    EXPECT_EQ(reportLogLine(3, 123456, "网络断开"), " 3 123456 MarkTrxferException:网络断开\r\n");
    EXPECT_EQ(reportLogLine(127, 0, ""), "127 0 MarkTrxferException:\r\n");
    EXPECT_EQ(reportLogLine(4, 1, "a\r\n 9 9 MarkTrxferException:forged"),
              " 4 1 MarkTrxferException:a\\x0D\\x0A 9 9 MarkTrxferException:forged\r\n");
}

} // namespace
