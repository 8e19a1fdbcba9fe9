#pragma once
// Stand-ins for the endpoint's socket and collaborators, and a fixture that wires them up.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "discovery/discovery_endpoint.h"

namespace vandry::testing {

using Bytes = std::vector<std::uint8_t>;

struct SentDatagram {
    Bytes bytes;
    Endpoint destination;
    int hops = 0; // the datagram's own hop limit; 0: the socket's

    ControlDatagram header() const { return *parseControlHeader(bytes); }
    ByteSpan payload() const { return ByteSpan(bytes).subspan(ControlDatagram::kSize); }
    Bytes payloadBytes() const { return Bytes(bytes.begin() + ControlDatagram::kSize, bytes.end()); }
};

class FakeDatagramSocket final : public DatagramSocket {
public:
    bool bind(std::uint16_t port) override
    {
        if (taken.count(port))
            return false;
        port_ = port ? port : kAssignedPort;
        return true;
    }
    std::uint16_t localPort() const override { return port_; }
    bool sendTo(ByteSpan datagram, Endpoint destination) override
    {
        std::lock_guard lock(mutex_);
        sent_.push_back({Bytes(datagram.begin(), datagram.end()), destination, 0});
        return true;
    }
    bool sendToWithHopLimit(ByteSpan datagram, Endpoint destination, int hops) override
    {
        std::lock_guard lock(mutex_);
        sent_.push_back({Bytes(datagram.begin(), datagram.end()), destination, hops});
        return true;
    }
    void setReceiveBufferSize(int bytes) override { receiveBuffer = bytes; }
    void setMulticastTtl(int ttl) override { multicastTtl = ttl; }
    bool joinMulticastGroup(Ipv4 group) override
    {
        joinedGroup = group;
        return joinSucceeds;
    }
    void setReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }

    void deliver(ByteSpan datagram, Endpoint source)
    {
        if (handler_)
            handler_(datagram, source);
    }
    std::vector<SentDatagram> takeSent()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(sent_, {});
    }

    static constexpr std::uint16_t kAssignedPort = 50123;
    std::set<std::uint16_t> taken;
    bool joinSucceeds = true;
    int receiveBuffer = 0;
    int multicastTtl = 0;
    Ipv4 joinedGroup = 0;

private:
    std::uint16_t port_ = 0;
    ReceiveHandler handler_;
    std::mutex mutex_;
    std::vector<SentDatagram> sent_;
};

class RecordingListener final : public DiscoveryListener {
public:
    void neighboursArrived() override { ++neighbours; }
    void announceRequested() override { ++announces; }
    void serverListArrived() override { ++serverLists; }
    void queryReplyArrived(ByteSpan payload, Endpoint source) override
    {
        queryReplies.emplace_back(payload.begin(), payload.end());
        querySources.push_back(source);
    }
    void listingReplyArrived(ByteSpan payload) override { listingReplies.emplace_back(payload.begin(), payload.end()); }
    void sourceReplyArrived(ByteSpan payload) override { sourceReplies.emplace_back(payload.begin(), payload.end()); }

    int neighbours = 0;
    std::atomic<int> announces{0};
    int serverLists = 0;
    std::vector<Bytes> queryReplies;
    std::vector<Endpoint> querySources;
    std::vector<Bytes> listingReplies;
    std::vector<Bytes> sourceReplies;
};

class FakeServices final : public RequestServices {
public:
    // Writes `answer` from offset 68 and the block's counts, as the share index does.
    int query(std::string_view text, MutableByteSpan destination, std::uint8_t flags) override
    {
        queries.push_back({std::string(text), flags});
        if (queryResult != 0)
            return queryResult;
        storeU16le(destination, 0, 68);
        destination[3] = 7;
        storeU16le(destination, 4, fileLength);
        storeU16le(destination, 6, folderLength);
        std::copy(answer.begin(), answer.end(), destination.begin() + 68);
        return 0;
    }
    std::vector<std::uint8_t> listFolder(std::string_view path, std::size_t room) override
    {
        listings.push_back({std::string(path), room});
        return listing;
    }
    std::string pathForKey(const FileKey& key) override
    {
        auto it = paths.find(key);
        return it == paths.end() ? std::string{} : it->second;
    }

    int queryResult = 0;
    std::uint16_t fileLength = 0;
    std::uint16_t folderLength = 0;
    Bytes answer;
    std::vector<std::pair<std::string, std::uint8_t>> queries;
    Bytes listing;
    std::vector<std::pair<std::string, std::size_t>> listings;
    std::map<FileKey, std::string> paths;
};

class RecordingSink final : public ReliableTransportSink {
public:
    void onDatagram(ByteSpan datagram, Endpoint source) override
    {
        received.push_back({Bytes(datagram.begin(), datagram.end()), source, 0});
    }
    std::vector<SentDatagram> received;
};

inline HostIdentity identity(unsigned n)
{
    HostIdentity id{};
    id[0] = static_cast<std::uint8_t>(n);
    id[1] = static_cast<std::uint8_t>(n >> 8);
    id[15] = 0x5A;
    return id;
}

// A copy on LAN 192.168.0.n behind a translator at `mapped` (0: no server known).
inline HostRecord hostRecord(unsigned n, Ipv4 mapped = 0)
{
    HostRecord r;
    r.identity = identity(n);
    r.lanPrimary = 0xC0A80000u + n;
    r.lanSecondary = 0x0A000000u + n;
    r.mapAddr = mapped;
    r.mapPort = mapped ? static_cast<std::uint16_t>(40000 + n) : 0;
    r.portUdp = 1552;
    r.portTcp = 1552;
    r.setNickname("copy" + std::to_string(n));
    return r;
}

inline Bytes datagram(ControlDatagram header, ByteSpan payload)
{
    return *buildControlDatagram(header, payload);
}

inline ControlDatagram header(std::uint8_t type, std::uint8_t subType = 0, std::uint16_t word = 0, Ipv4 address = 0)
{
    ControlDatagram h;
    h.type = type;
    h.subType = subType;
    h.word = word;
    h.address = address;
    return h;
}

constexpr unsigned kLocalCopy = 700;
constexpr Ipv4 kLocalPublic = 0x5D000001; // 93.0.0.1
constexpr Endpoint kPeer{0xC0A80063, 1552};
constexpr Endpoint kServer{0x0A000001, 3000}; // server 0 once a test calls useServers({"10.0.0.1"})

class EndpointTest : public ::testing::Test {
protected:
    EndpointTest()
    {
        auto owned = std::make_unique<FakeDatagramSocket>();
        socket = owned.get();
        endpoint = std::make_unique<DiscoveryEndpoint>(
            std::move(owned), DiscoveryContext{settings, table, log, listener, services, sink});
        // The process id too: tests run in parallel processes, where the sanitizers' heap can
        // place this fixture at the same address.
        logPath =
            std::filesystem::temp_directory_path() / ("discovery-" + std::to_string(::getpid()) + "-" +
                                                      std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".log");
        log.open(logPath);
    }
    ~EndpointTest() override { std::filesystem::remove(logPath); }

    void deliver(ControlDatagram h, ByteSpan payload, Endpoint source = kPeer)
    {
        const auto bytes = datagram(h, payload);
        socket->deliver(bytes, source);
    }
    std::string logText() const
    {
        std::ifstream in(logPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void useServers(std::initializer_list<std::string> addresses)
    {
        std::size_t i = 0;
        for (const auto& address : addresses) {
            settings.servers.setEntry(i, address, static_cast<std::uint16_t>(3000 + i));
            ++i;
        }
    }

    ManualClock clock;
    AppSettings settings;
    NeighbourTable table{clock, hostRecord(kLocalCopy)};
    EventLog log;
    std::filesystem::path logPath;
    RecordingListener listener;
    FakeServices services;
    RecordingSink sink;
    FakeDatagramSocket* socket = nullptr;
    std::unique_ptr<DiscoveryEndpoint> endpoint;
};

} // namespace vandry::testing
