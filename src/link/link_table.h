#pragma once
// LinkTable: the 128 peer links of one running copy, the listener that accepts incoming links,
// and the operations the main window runs on them. Slot 0 is never handed out, so at most 127
// links are active at once. The table is also the OpenStreams of its links' file streams.
//
// The stream table, neighbour table, event log and report sink belong to the running copy and
// are given to the table; the main window reads the stream entries (progress, rate) from the
// stream table directly. Everything runs on the copy's main thread.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "common/event_loop.h"
#include "common/file_digest.h"
#include "link/file_link.h"
#include "link/link_environment.h"
#include "link/transfer_listener.h"

namespace vandry {

struct LinkTableContext {
    SocketFactory& sockets;
    DatagramLinkTransport& datagrams;
    DatagramConnector& connector;
    const Clock& clock;
    EventLoop& loop;
    NeighbourTable& neighbours;
    StreamTable& streams;
    EventLog& log;
    TransferEventSink& events;
    std::function<std::uint32_t()> random;
    // Bytes per second the links may upload together; unlimited when empty or not positive.
    std::function<int()> uploadLimit = {};
    FolderTaskTables folders = {};
};

// One slot as the link dump shows it.
struct LinkSlotState {
    bool tcp = false;      // a TCP connection is open
    bool datagram = false; // the link runs over the datagram transport
    std::optional<Endpoint> peer;
};

// A file this copy is sending, for the window's list of uploads.
struct UploadView {
    LinkIndex link{};
    std::string peer; // the requester's nickname
    std::string file; // the file's path in the share, as asked for (wire form)
    std::uint64_t sentBytes = 0;
};

class LinkTable final : public OpenStreams, private LinkRoster {
public:
    static constexpr std::size_t kLinks = 128;
    // A link silent for longer than this fails with "网络断开" at the next sweep.
    static constexpr std::int64_t kIdleSeconds = 180;
    // Links other copies open may not take these last free slots: this copy's own downloads
    // keep room however many connections arrive.
    static constexpr std::size_t kSlotsKeptForDownloads = 16;
    // Links other copies may have open from one address at once.
    static constexpr int kLinksPerAddress = 16;

    explicit LinkTable(LinkTableContext context);
    ~LinkTable() override;
    LinkTable(const LinkTable&) = delete;
    LinkTable& operator=(const LinkTable&) = delete;

    // The roots links serve from and write to; may change while links run.
    void setRoots(TransferRoots roots) { roots_ = std::move(roots); }
    const TransferRoots& roots() const { return roots_; }

    // Listens on `port` (1552), or on a free port when it is taken, and publishes the port bound
    // in the local HostRecord of the neighbour table. False when no port could be had.
    bool startListening(std::uint16_t port = TransferListener::kDefaultPort);

    std::optional<LinkIndex> findFreeLink() const;
    // Starts a transfer on a free link; nothing happens when none is free.
    void openLink(const LinkRequest& request) override;
    // A free link for an incoming datagram-transport connection, waiting for the hello.
    std::optional<LinkIndex> openIncomingDatagramLink();
    // Links in use working for `task`.
    int countTaskLinks(const HostIdentity& task) const override;
    // At least two links in use write the file of `digest` and fetch it from `peer`.
    bool hasDuplicateSourceLink(const FileDigest& digest, const HostIdentity& peer) const;
    // Resets the links of a task and those on its file (`entry`, or the one the task writes);
    // links serving the file to other copies only when `force` is set.
    void stopTaskLinks(const HostIdentity& task, bool force, std::optional<StreamSlot> entry = std::nullopt);
    // The main window runs it every 120 s.
    void sweepIdleLinks();
    void resetAllLinks();

    FileLink& link(LinkIndex index) { return *links_[static_cast<std::size_t>(index)]; }
    const FileLink& link(LinkIndex index) const { return *links_[static_cast<std::size_t>(index)]; }
    LinkSlotState slotState(LinkIndex index) const;
    std::vector<UploadView> uploads() const;
    StreamTable& streams() { return context_.streams; }

    void forEachStream(const std::function<void(const FileStream&)>& visit) const override;

private:
    void forEachLink(const std::function<void(FileLink&)>& visit) override;
    bool acceptConnection(std::unique_ptr<StreamSocket>& connection);
    // A free link for a connection another copy opened, from `peer` when known; nothing when
    // the slots left are kept for downloads or the address has its share.
    std::optional<LinkIndex> findFreeIncomingLink(std::optional<Ipv4> peer) const;
    void publishPort(std::uint16_t port);

    LinkTableContext context_;
    TransferRoots roots_;
    UploadPacer uploads_;
    LinkEnvironment environment_;
    std::array<std::unique_ptr<FileLink>, kLinks> links_;
    TransferListener listener_;
};

} // namespace vandry
