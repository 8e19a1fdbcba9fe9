#pragma once
// What every link of a running copy shares: its transports, tables, event log, report sink,
// roots, event loop and upload pacer. The link table owns one and hands it to its links.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/event_log.h"
#include "common/event_loop.h"
#include "discovery/neighbour_table.h"
#include "link/datagram_connector.h"
#include "link/file_stream.h"
#include "link/link_records.h"
#include "link/link_socket.h"
#include "link/stream_table.h"
#include "link/transfer_event_sink.h"
#include "link/upload_pacer.h"

namespace vandry {

class FileLink;
class ListingCache;
struct LinkRequest;
class ShareHashTable;
class StagedFileFinisher;

// What folder downloads keep: the listings received for each folder task, and the digests known
// of local files (to skip files already here). Without them a link takes no folder task. With a
// finisher, whole small files are put in their place beside the links instead of by them.
struct FolderTaskTables {
    ListingCache* listings = nullptr;
    ShareHashTable* hashes = nullptr;
    StagedFileFinisher* finisher = nullptr;
};

// The share root is what peers may read: a full local path; empty refuses everything. Where a
// download is written is the task's own local path, which only this side ever chooses.
struct TransferRoots {
    std::string shareRoot;
};

// The links of the running copy, as one link needs to see the others.
class LinkRoster {
public:
    virtual ~LinkRoster() = default;
    virtual void forEachLink(const std::function<void(FileLink&)>& visit) = 0;
    // Starts a transfer on a free link; nothing happens when none is free.
    virtual void openLink(const LinkRequest& request) = 0;
    // Links in use working for `task`.
    virtual int countTaskLinks(const HostIdentity& task) const = 0;
};

struct LinkEnvironment {
    LinkSocketContext transports;
    DatagramConnector& connector;
    NeighbourTable& neighbours;
    StreamTable& streams;
    const OpenStreams& openStreams;
    LinkRoster& roster;
    EventLog& log;
    TransferEventSink& events;
    const TransferRoots& roots;
    EventLoop& loop;
    UploadPacer& uploads;
    FolderTaskTables folders;
    // Session tags; the product uses a seeded engine, tests a fixed sequence.
    std::function<std::uint32_t()> random;
};

// What the main window starts a transfer with.
struct LinkRequest {
    PeerInfo peer;
    TaskRecord request;
    HostIdentity taskId{};
    std::optional<SourceInfo> source;
    std::string localFile;
    // Use the datagram transport even when a TCP address is known.
    bool viaDatagram = false;
    // A further link of a folder task whose walk is done: it fetches the task's listed files
    // beside the link that walked, without walking again.
    bool joinsFolder = false;
};

} // namespace vandry
