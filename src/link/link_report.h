#pragma once
// A link's event reports: the texts, codes and event types every link failure and milestone is
// reported with, and what the code asks for. A code's high four bits are the report class (from
// 0x10 up the main window is told; above 0x10 the event also describes the file), its low four
// bits the action the link takes.

#include <cstdint>
#include <string>
#include <string_view>

namespace vandry {

// The second parameter of the window's event message: what happened to the transfer.
enum class EventType : std::uint8_t {
    Status = 0,        // the text is the task's new state
    TransferEnded = 2, // the file is complete or was written whole
    NetworkLost = 3,
    ConnectFailed = 4,
    PeerBehind = 5,   // sharer: the requester holds blocks this side lacks
    FileServed = 6,   // sharer: a file request was accepted
    PeerFailed = 7,   // the peer's error report; the text is the peer's
    SegmentsDone = 8, // nothing more to fetch from this sharer
    FileOpened = 9,   // the text is the local file now being written
};

enum class ReportAction : std::uint8_t {
    Nothing,
    SendErrorReport,     // tell the peer with an 'I' frame
    EndTransfer,         // end the transfer as unfinished
    EndTransferFinished, // end the transfer as done
    ResetLink,
};

struct LinkReport {
    std::string_view text;
    std::uint8_t code = 0;
    EventType type = EventType::Status;

    // The same report with a text known only when it is raised (an error text, a path).
    constexpr LinkReport withText(std::string_view newText) const { return {newText, code, type}; }
};

constexpr std::uint8_t reportClass(std::uint8_t code)
{
    return code & 0xF0;
}
constexpr bool reportShown(std::uint8_t code)
{
    return reportClass(code) >= 0x10;
}
// Reports of class 0x20 and above carry the digest, size and source of the file.
constexpr bool reportDescribesFile(std::uint8_t code)
{
    return reportClass(code) > 0x10;
}
constexpr ReportAction reportAction(std::uint8_t code)
{
    switch (code & 0x0F) {
    case 0:
        return ReportAction::Nothing;
    case 1:
        return ReportAction::SendErrorReport;
    case 2:
        return ReportAction::EndTransfer;
    case 3:
        return ReportAction::EndTransferFinished;
    default:
        return ReportAction::ResetLink;
    }
}

inline constexpr LinkReport kReportPreparing{"准备传输", 0x10, EventType::Status};
inline constexpr LinkReport kReportNegotiating{"目录协商", 0x10, EventType::Status};
inline constexpr LinkReport kReportQueryDone{"查询完成", 0x12, EventType::Status};
// Raised with the refused name: a folder's listing named a file or folder that cannot be placed
// inside the task's local folder. The rest of the folder goes on.
inline constexpr LinkReport kReportNameRefused{"拒绝不安全的名称", 0x10, EventType::Status};
inline constexpr LinkReport kReportWriteFailed{"文件写错误", 0x12, EventType::Status};
inline constexpr LinkReport kReportPeerReadFailed{"对端读错误", 0x12, EventType::Status};
inline constexpr LinkReport kReportSyncFailed{"同步失败", 0x03, EventType::Status};
// Raised with the system's error text; this text when there is none.
inline constexpr LinkReport kReportServeFailed{"数据精读错误", 0x01, EventType::Status};
inline constexpr LinkReport kReportTransferEnded{"结束传输", 0x23, EventType::TransferEnded};
inline constexpr LinkReport kReportNetworkLost{"网络断开", 0x20, EventType::NetworkLost};
inline constexpr LinkReport kReportConnectFailed{"连接对端失败", 0x20, EventType::ConnectFailed};
inline constexpr LinkReport kReportPeerBehind{"", 0x20, EventType::PeerBehind};
inline constexpr LinkReport kReportFileServed{"", 0x20, EventType::FileServed};
// Raised with the text of the peer's error report.
inline constexpr LinkReport kReportPeerFailed{"", 0x42, EventType::PeerFailed};
inline constexpr LinkReport kReportSegmentsDone{"分段接收完成", 0x22, EventType::SegmentsDone};
// Raised with the local path of the file opened for writing.
inline constexpr LinkReport kReportFileOpened{"", 0x20, EventType::FileOpened};

// The event-log line of a report: "%2d %u MarkTrxferException:%s\r\n" (link index, milliseconds
// of the system tick, text).
std::string reportLogLine(unsigned linkIndex, std::uint32_t tickMs, std::string_view text);

} // namespace vandry
