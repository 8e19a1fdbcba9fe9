#pragma once
// FileLink: one peer link of the link table, carrying one file conversation at a time.
//
// The side that opens the link is the requester, the other the sharer. The requester connects
// (TCP, or the datagram transport when the neighbour is reachable only that way), says hello
// ('A' 0), and on the acknowledgement ('A' 5) asks for its file ('B' 0) or, for a folder task,
// walks the sharer's folder tree first ('C', folder_negotiation.cpp) and then asks for each
// listed file in turn on the same link, while a few further links to the same sharer fetch other
// listed files beside it (small files cost round trips, not bytes). Once every block a file
// lacks has been asked for, the next files are asked for behind them, a small new one with its
// blocks along (the listing gave its size), so that the link never waits between files. The
// sharer confines the path to its share root and answers with the file's description ('B' 1) or,
// for a file below 1024 bytes, the whole file ('B' 3). Then the requester sends its block map
// ('D' 0), the sharer answers with what it offers ('D' 1), the requester's scheduler picks a
// range and fetches it up to 63 blocks at a time ('E' 0 / 'E' 1), and maps are exchanged again
// after each range until nothing is left. A sharer that flags its map answer as answering in
// order gets as many requests in flight as the path carries (RequestWindow); any other gets one
// at a time. The sharer answers in order and holds an answer back, and the requests behind it,
// while the copy's upload limit is used up. An error report ('I') ends the transfer on the
// receiving side.
//
// Every milestone and failure becomes a report (markTrxferException): a TransferEvent that is
// written to the event log and, from class 0x10 up, handed to the TransferEventSink.
//
// A link checks that each frame suits its role and phase; one that does not resets the link
// (the peer then sees its connection close), as does every frame outside the message set.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "link/file_stream.h"
#include "link/link_environment.h"
#include "link/link_records.h"
#include "link/link_socket.h"
#include "link/request_window.h"
#include "link/transfer_event.h"
#include "store/listing.h"

namespace vandry {

enum class LinkRole : std::uint8_t { Idle, Requester, Sharer };

enum class LinkPhase : std::uint8_t {
    Idle,
    Connecting,    // requester: waiting for the transport
    HelloSent,     // requester: waiting for 'A' 5
    Requesting,    // requester: 'B' 0 or 'C' 0 sent, waiting for 'B' 1, 'B' 3 or 'C' 1
    Negotiating,   // requester: walking the sharer's folder tree ('C' 2 to 'C' 5)
    Fetching,      // requester: stream open for writing, exchanging maps and blocks
    AwaitingHello, // sharer: connection accepted
    Greeted,       // sharer: hello acknowledged, waiting for a file request
    Serving,       // sharer: a file request answered (or refused)
};

class FileLink final : public LinkSocket {
public:
    // Saved progress of a download lags the data written by at most this much, or by what
    // arrived within kSaveSpacing when that is more: each save waits for the disk (fdatasync),
    // which must not hold a fast download back.
    static constexpr std::size_t kSaveInterval = 2 * 1024 * 1024;
    static constexpr std::uint32_t kSaveSpacingMs = 1000;
    // An accepted link that has not asked for a file by then is closed: idle connections must
    // not hold the table's slots.
    static constexpr std::chrono::milliseconds kRequestDeadline{10'000};
    // A TCP connect still pending then is given up for the datagram transport: a peer behind a
    // firewall that drops connection attempts would otherwise hold the task for minutes.
    static constexpr std::chrono::milliseconds kConnectDeadline{6'000};

    FileLink(LinkIndex index, const LinkEnvironment& environment);

    // Requester: starts a transfer on this (free) link.
    void startLink(const LinkRequest& request);
    // Links a folder task fetches its files on at once, the one that walked included.
    static constexpr int kFolderFileLinks = 8;
    // Files a folder link asks for ahead of the one it is fetching, at most.
    static constexpr std::size_t kFilesAskedAhead = 16;

    // Sharer: a TCP connection the listener accepted for this link; the peer speaks first.
    void acceptConnection(std::unique_ptr<StreamSocket> connection);
    // Sharer: a datagram-transport connection the transport assigned to this link.
    void acceptDatagramConnection();

    // Reports the failure if the link works for a task, then resets it.
    void failLink(const LinkReport& report) override;
    // Back to idle: the transport closed, the stream closed (its resume state saved).
    void resetLink();
    void onConnectDeadline();

    LinkPhase phase() const { return phase_; }
    LinkRole role() const { return role_; }
    const HostIdentity& taskId() const { return taskId_; }
    const PeerInfo& peer() const { return peer_; }
    const TaskRecord& request() const { return request_; }
    const std::string& localFile() const { return localFile_; }
    const SourceInfo& source() const { return source_; }
    bool joinsFolder() const { return joinsFolder_; }
    FileStream& stream() { return stream_; }
    const FileStream& stream() const { return stream_; }
    // Sharer: the bytes of the file sent so far.
    std::uint64_t sentBytes() const { return sentBytes_; }
    // The TCP peer, for the link dump; nothing over the datagram transport.
    std::optional<Endpoint> peerEndpoint() const { return peerEndpoint_; }

protected:
    void onFrame(MutableByteSpan frame) override;
    void onFrameRefused(std::uint8_t type, std::uint8_t sub) override;
    void onLinkConnected() override;

private:
    // Session (file_link.cpp).
    void connectTo(const NeighbourRecord& neighbour, bool viaDatagram);
    // `success` matters only to a folder task, which records the file; a file task ends either way.
    void onTransferEnd(bool success);
    // Folder task: records a finished file and asks for the next listed one, or ends the link
    // when none is left.
    void onFolderFileEnd(bool success);
    void fetchNextFile();
    // Picks the next listed file no link has taken yet into `record` and asks for it; false when
    // none is left.
    bool askForListedFile(TaskRecord& record);
    // Asks for the next files while this one's last blocks are on their way.
    void askAheadForNextFile();
    // A small file not here yet, whose blocks can be asked for before the sharer describes it.
    bool canAskBlocksAhead(const TaskRecord& record) const;
    std::size_t requestsAskedAhead() const;
    void openFolderFileLinks();
    bool handleFrame(std::uint8_t type, std::uint8_t sub, MutableByteSpan frame);

    // Handshake (link_handshake.cpp).
    bool onHelloFrame(std::uint8_t sub, ByteSpan payload);
    bool acceptHello(ByteSpan payload);
    void onHelloAck();
    bool onErrorReport(ByteSpan payload);

    // Reports (link_event_report.cpp).
    void markTrxferException(const LinkReport& report);
    // Fills event_ for the report without acting on it.
    void fillEvent(const LinkReport& report);
    // Reports and tells whether the link still holds the same conversation afterwards.
    bool reportAndContinue(const LinkReport& report);
    void describeFile(EventType type);
    void act(ReportAction action);

    // File request (file_request.cpp).
    bool onFileFrame(std::uint8_t sub, ByteSpan payload);
    bool serveFileRequest(ByteSpan payload);
    void sendSmallFile(const std::string& path);
    void refuseRequest(const std::string& reason);
    bool onFileAccepted(ByteSpan payload);
    bool onSmallFile(ByteSpan payload);
    void refuseLocalFile(const std::string& reason);

    // Folder negotiation (folder_negotiation.cpp).
    bool onFolderFrame(std::uint8_t sub, ByteSpan payload);
    bool serveFolderStart(ByteSpan payload);
    bool serveNextFolder();
    bool serveFolderListing(ByteSpan payload);
    bool onFolderAccepted();
    bool onFolderName(ByteSpan payload);
    bool onFolderListing(ByteSpan payload);
    void sendFolderText(std::uint8_t sub, const std::string& text);
    void sendRequestRecord(std::uint8_t type, std::uint8_t sub);
    void sendRequestRecord(const TaskRecord& record, std::uint8_t type, std::uint8_t sub);
    bool reportRefusedNames(ByteSpan listing);
    bool reportRefusedName(std::string_view name);

    // Block exchange (block_exchange_link.cpp).
    bool onBlockMapFrame(std::uint8_t sub, ByteSpan frame);
    bool answerBlockMap(ByteSpan frame);
    void onSharerMap(ByteSpan frame);
    bool onBlocksFrame(std::uint8_t sub, ByteSpan frame);
    bool answerBlockRequest(ByteSpan frame);
    void answerHeldRequest();
    void onAnswerDue();
    void onRequestDeadline();
    void onBlockData(ByteSpan frame);
    void writeAnswer(const PendingRequest& request, ByteSpan data);
    void endWholeFile();
    // Folder task: hands the whole staged file to the finisher and goes on with the next file.
    void handOverStagedFile();
    void endRange();
    void sendMap();
    void fillRequestWindow();
    void sendMapFrame(const BlockMap& map, std::uint8_t type, std::uint8_t sub, std::uint32_t block,
                      std::uint8_t count = 0, std::uint8_t flags = 0);

    const LinkEnvironment& env_;
    LinkRole role_ = LinkRole::Idle;
    LinkPhase phase_ = LinkPhase::Idle;
    std::uint32_t sessionTag_ = 0;
    HostIdentity taskId_{};
    std::string localFile_;
    TaskRecord request_;
    PeerInfo peer_;
    std::uint64_t sentBytes_ = 0;
    TransferEvent event_;
    SourceInfo source_;
    FileStream stream_;
    std::optional<Endpoint> peerEndpoint_;
    std::size_t unsavedBytes_ = 0;
    std::optional<std::uint32_t> lastSaveMs_;
    // Requester: the data requests in flight; the range's `requested` is where the next one asks.
    RequestWindow requests_;
    // Counts resets, so that a handler sees when a report ended its conversation.
    std::uint64_t conversation_ = 0;
    // A block request whose answer waits for the upload limit, and the timer that sends it.
    std::optional<FrameHeader> heldRequest_;
    std::unique_ptr<Timer> answerTimer_;
    std::unique_ptr<Timer> requestDeadline_;
    // Folder task (requester): set once the sharer accepted the walk; the task's folders.
    bool dirMode_ = false;
    bool joinsFolder_ = false;
    // The own map went out along with the file request, before the sharer described the file.
    bool mapSentWithRequest_ = false;
    // The files asked for while the current one's last blocks are on their way: the sharer
    // answers in order, so their descriptions follow them. Nothing more may be asked about the
    // current file then, since the sharer has moved on. Only the last one may lack its block
    // requests: the next file's would reach the sharer before them.
    struct AskedFile {
        TaskRecord record;
        std::uint32_t blocks = 0; // asked for along with the request: [0, blocks)
        std::size_t requests = 0; // the block requests that asked for them
    };
    std::deque<AskedFile> askedAhead_;
    // The current file's blocks asked for along with its request, until the sharer's map answer;
    // and those requests, which a sharer that refuses the file, or sends it whole, drops.
    std::uint32_t blocksAskedWithRequest_ = 0;
    std::size_t requestsDroppedOnRefusal_ = 0;
    std::string remoteRoot_;
    std::string localRoot_;
    // The entries of the folder being listed received so far, and its first one: a large folder
    // is listed in parts.
    std::uint32_t folderEntriesListed_ = 0;
    std::string folderFirstName_;
    // Sharer: the folders a folder download still has to ask for.
    DirectoryQueue directories_;
};

} // namespace vandry
