#pragma once
// A rendezvous server on a recording socket and a manual clock, and the copies that talk to it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/clock.h"
#include "common/socket.h"
#include "discovery/compressed_datagram.h"
#include "discovery/control_datagram.h"
#include "server/core/rendezvous_server.h"

namespace vandry::testing {

struct SentDatagram {
    std::vector<std::uint8_t> bytes;
    Endpoint to;
};

class RecordingSocket final : public DatagramSocket {
public:
    bool bind(std::uint16_t) override { return true; }
    std::uint16_t localPort() const override { return 3333; }
    bool sendTo(ByteSpan datagram, Endpoint destination) override
    {
        sent.push_back({{datagram.begin(), datagram.end()}, destination});
        return true;
    }
    void setReceiveBufferSize(int) override {}
    void setMulticastTtl(int) override {}
    bool joinMulticastGroup(Ipv4) override { return true; }
    void setReceiveHandler(ReceiveHandler h) override { handler = std::move(h); }

    void receive(ByteSpan datagram, Endpoint from) { handler(datagram, from); }
    std::vector<SentDatagram> sentTo(Endpoint to) const
    {
        std::vector<SentDatagram> out;
        for (const auto& d : sent)
            if (d.to == to)
                out.push_back(d);
        return out;
    }

    ReceiveHandler handler;
    std::vector<SentDatagram> sent;
};

// Copy n: a record with a scrambled identity (as real ones are), behind the public endpoint
// 198.51.100.n:40000+n.
inline HostRecord copyRecord(int n)
{
    HostRecord r;
    std::uint32_t state = 0x9E3779B9u * static_cast<std::uint32_t>(n + 1);
    for (auto& b : r.identity) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    r.mapAddr = 0x0A000001; // what the copy believes; the server writes what it sees
    r.lanPrimary = 0xC0A80100 + static_cast<std::uint32_t>(n);
    r.portUdp = 1552;
    r.portTcp = 1552;
    r.setNickname("copy" + std::to_string(n));
    return r;
}

inline Endpoint copyEndpoint(int n)
{
    return {0xC6336400 + static_cast<std::uint32_t>(n), static_cast<std::uint16_t>(40000 + n)};
}

// The record as the server keeps and lists it: mapped to where the server saw it.
inline HostRecord keptRecord(int n)
{
    auto r = copyRecord(n);
    r.mapAddr = copyEndpoint(n).address;
    r.mapPort = copyEndpoint(n).port;
    return r;
}

inline std::vector<std::uint8_t> controlDatagram(ControlType type, std::uint8_t subType, ByteSpan payload)
{
    ControlDatagram header;
    header.type = static_cast<std::uint8_t>(type);
    header.subType = subType;
    return *buildControlDatagram(header, payload);
}

inline std::vector<std::uint8_t> announceDatagram(const HostRecord& record)
{
    return controlDatagram(ControlType::Announce, 0, encodeHostRecord(record));
}

// What a copy makes of the record lists it was sent: every datagram expanded as the copy's
// endpoint does and parsed; a datagram that does not expand or parse fails the test.
struct ReceivedLists {
    std::vector<HostRecord> records;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> typeAndSubType;
};

inline ReceivedLists listsSentTo(const RecordingSocket& socket, Endpoint to)
{
    ReceivedLists out;
    for (auto datagram : socket.sentTo(to)) {
        if (datagram.bytes[2] != 2 && datagram.bytes[2] != 3)
            continue; // checks and refusals
        EXPECT_EQ(expandCompressedDatagram(datagram.bytes, ControlDatagram::kMaxSize + ControlDatagram::kSize),
                  LzwStatus::Ok);
        EXPECT_EQ(loadU16le(datagram.bytes, 0), datagram.bytes.size());
        out.typeAndSubType.emplace_back(datagram.bytes[2], datagram.bytes[3]);
        const auto records = parseRecordList(ByteSpan(datagram.bytes).subspan(ControlDatagram::kSize));
        EXPECT_TRUE(records.has_value());
        if (records)
            out.records.insert(out.records.end(), records->begin(), records->end());
    }
    return out;
}

// Default settings with one change, e.g. settingsWith([](auto& s) { s.maxCopies = 2; }).
template <typename Change> RendezvousSettings settingsWith(Change change)
{
    RendezvousSettings settings;
    change(settings);
    return settings;
}

class RendezvousTest : public ::testing::Test {
protected:
    explicit RendezvousTest(RendezvousSettings settings = {})
        : server(socket, clock, settings, [this](const std::string& line) { log.push_back(line); })
    {
    }

    // Announces copy n from `from` and, like a copy, echoes the return-routability check it is sent.
    void announce(int n, std::uint8_t subType = 0) { announceFrom(n, copyEndpoint(n), subType); }
    void announceFrom(int n, Endpoint from, std::uint8_t subType = 0)
    {
        const std::size_t before = socket.sent.size();
        auto datagram = announceDatagram(copyRecord(n));
        datagram[3] = subType;
        socket.receive(datagram, from);
        echoChecks(from, before);
    }
    void echoChecks(Endpoint at, std::size_t sentBefore = 0)
    {
        std::vector<std::vector<std::uint8_t>> echoes;
        for (std::size_t i = sentBefore; i < socket.sent.size(); ++i)
            if (socket.sent[i].to == at && socket.sent[i].bytes[2] == 147 && socket.sent[i].bytes[3] == 0) {
                echoes.push_back(socket.sent[i].bytes);
                echoes.back()[3] = 1;
            }
        for (const auto& echo : echoes)
            socket.receive(echo, at);
    }
    // What copy n has been listed, as the copy takes it in: its own record left out.
    std::vector<HostRecord> othersListedTo(int n) const
    {
        auto records = listsSentTo(socket, copyEndpoint(n)).records;
        std::erase_if(records, [n](const HostRecord& r) { return r.identity == copyRecord(n).identity; });
        return records;
    }
    bool logMentions(const std::string& text) const
    {
        for (const auto& line : log)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    RecordingSocket socket;
    ManualClock clock;
    std::vector<std::string> log;
    RendezvousServer server;
};

} // namespace vandry::testing
