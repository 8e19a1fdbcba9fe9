#pragma once
// A running copy's link side for tests: the tables, a recording report sink, a hand-driven event
// loop, and helpers to start downloads and read back what went over the wire.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/event_loop.h"
#include "link/link_table.h"
#include "link/staged_file_finisher.h"
#include "link_socket_fakes.h"
#include "store/file_info_source.h"
#include "store/listing_cache.h"
#include "store/resume_store.h"
#include "store/share_hash_table.h"

namespace vandry::testing {

class ManualTimer final : public Timer {
public:
    void start(std::chrono::milliseconds every, std::function<void()> onTick) override
    {
        period = every;
        tick = std::move(onTick);
        running = true;
    }
    void stop() override { running = false; }
    std::function<void()> tick;
    std::chrono::milliseconds period{0};
    bool running = false;
};

class ManualEventLoop final : public EventLoop {
public:
    std::unique_ptr<Timer> createTimer() override
    {
        auto timer = std::make_unique<ManualTimer>();
        timers.push_back(timer.get());
        return timer;
    }
    void post(std::function<void()> work) override { work(); }
    // One period passes for every running timer.
    void tickTimers()
    {
        for (auto* timer : timers)
            if (timer->running)
                timer->tick();
    }
    std::vector<ManualTimer*> timers;
};

struct RecordedEvent {
    TransferEvent event;
    EventType type;
};

class RecordingSink final : public TransferEventSink {
public:
    void taskEvent(const TransferEvent& event, EventType type) override
    {
        events.push_back({event, type});
        if (onEvent)
            onEvent(event, type);
    }
    void localFileFailed(const std::string& path, const std::string& reason) override
    {
        localFailures.push_back({path, reason});
    }
    std::vector<RecordedEvent> forTask(const HostIdentity& task) const
    {
        std::vector<RecordedEvent> found;
        for (const auto& recorded : events)
            if (recorded.event.taskId == task)
                found.push_back(recorded);
        return found;
    }
    bool sawText(const HostIdentity& task, std::string_view text) const
    {
        for (const auto& recorded : forTask(task))
            if (recorded.event.text == text)
                return true;
        return false;
    }
    std::vector<RecordedEvent> events;
    std::vector<std::pair<std::string, std::string>> localFailures;
    std::function<void(const TransferEvent&, EventType)> onEvent;
};

inline HostIdentity identityOf(std::uint8_t seed)
{
    HostIdentity id{};
    for (std::size_t i = 0; i < id.size(); ++i)
        id[i] = static_cast<std::uint8_t>(seed + i);
    return id;
}

// Digests of local files are never known: folder tasks judge files already here by size.
struct UnknownFileInfo final : FileInfoSource {
    std::optional<FileInfoBlock> fileInfo(const std::string&, bool) override { return std::nullopt; }
};

// One copy: the tables its links need, built over the given sockets, with its state (resume
// records, event log) in `home`.
class TestCopy {
public:
    TestCopy(std::unique_ptr<SocketFactory> sockets, ManualClock& clock, Ipv4 address, std::uint8_t seed,
             const std::filesystem::path& home)
        : sockets_(std::move(sockets)), neighbours(clock, hostRecord(address, seed)), resume(home / "resume"),
          streams(resume), links({*sockets_, datagrams, connector, clock, loop, neighbours, streams, log, sink,
                                  [] { return std::uint32_t{0x5A5A1234}; }, [this] { return uploadLimit; },
                                  FolderTaskTables{&listings, &hashes, &finisher}})
    {
        std::filesystem::create_directories(home);
        log.open(home / "EVT.TXT");
    }

    const HostRecord& host() const { return neighbours.local().host; }
    void meet(const TestCopy& other) { meet(other.host()); }
    void meet(const HostRecord& record) { neighbours.merge(std::span(&record, 1), 0); }
    PeerInfo peerInfoOf(const TestCopy& other) { return peerInfoOf(other.host()); }
    PeerInfo peerInfoOf(const HostRecord& record)
    {
        PeerInfo peer;
        peer.neighbour = neighbours.at(*neighbours.find(record.identity, false));
        return peer;
    }
    // Starts a download of `remotePath` from `sharer` into `localPath`.
    void download(const TestCopy& sharer, const std::string& remotePath, const std::string& localPath,
                  const HostIdentity& task)
    {
        download(sharer.host(), remotePath, localPath, task);
    }
    void download(const HostRecord& sharer, const std::string& remotePath, const std::string& localPath,
                  const HostIdentity& task)
    {
        LinkRequest request;
        request.peer = peerInfoOf(sharer);
        request.request.remotePath = remotePath;
        request.request.localPath = localPath;
        request.taskId = task;
        request.localFile = localPath;
        links.openLink(request);
    }
    FileLink* linkOf(const HostIdentity& task)
    {
        for (std::size_t i = 1; i < LinkTable::kLinks; ++i) {
            auto& link = links.link(LinkIndex{static_cast<std::uint16_t>(i)});
            if (link.inUse() && link.taskId() == task)
                return &link;
        }
        return nullptr;
    }
    const StreamEntry* entryOf(const HostIdentity& task) const
    {
        const auto slot = streams.findByOwner(task);
        return slot ? &streams.at(*slot) : nullptr;
    }

    static HostRecord hostRecord(Ipv4 address, std::uint8_t seed)
    {
        HostRecord host;
        host.identity = identityOf(seed);
        host.lanPrimary = address;
        host.portUdp = 1552;
        host.portTcp = 1552;
        return host;
    }

private:
    std::unique_ptr<SocketFactory> sockets_;

public:
    NeighbourTable neighbours;
    ResumeStore resume;
    StreamTable streams;
    EventLog log;
    RecordingSink sink;
    FakeDatagramTransport datagrams;
    NoDatagramConnector connector;
    ManualEventLoop loop;
    int uploadLimit = -1; // bytes per second
    ListingCache listings;
    UnknownFileInfo noFileInfo;
    ShareHashTable hashes{noFileInfo, [] { return std::string(); }};
    StagedFileFinisher finisher{loop, SerialWorker::Mode::Inline};
    LinkTable links;
};

inline Bytes frameWith(std::uint8_t type, std::uint8_t sub, const Bytes& payload)
{
    Bytes bytes = frame(type, sub, payload.size());
    std::copy(payload.begin(), payload.end(), bytes.begin() + FrameHeader::kSize);
    return bytes;
}

struct ParsedFrame {
    FrameHeader header;
    Bytes payload;
};

// Splits what one side wrote into frames; stops at a length that cannot be a frame.
inline std::vector<ParsedFrame> parseFrames(const Bytes& stream)
{
    std::vector<ParsedFrame> frames;
    std::size_t at = 0;
    while (stream.size() - at >= FrameHeader::kSize) {
        const auto header = *parseFrameHeader(ByteSpan(stream).subspan(at));
        if (header.length < FrameHeader::kSize || header.length > stream.size() - at)
            break;
        const auto payload = ByteSpan(stream).subspan(at + FrameHeader::kSize, header.length - FrameHeader::kSize);
        frames.push_back({header, Bytes(payload.begin(), payload.end())});
        at += header.length;
    }
    return frames;
}

} // namespace vandry::testing
