// hostile_peer: a peer that misbehaves on purpose, for the system tests.
//   hostile_peer flood PORT REMOTE_PATH SECONDS
//     opens a link to 127.0.0.1:PORT, says hello, asks for REMOTE_PATH, then sends data requests
//     for SECONDS without ever reading an answer.
//   hostile_peer idle PORT COUNT SECONDS
//     opens COUNT links and holds them open for SECONDS without a word.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"
#include "link/frame.h"
#include "link/link_records.h"

using namespace vandry;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::uint8_t> frame(std::uint8_t type, std::uint8_t sub, ByteSpan payload, std::uint8_t count = 0,
                                std::uint32_t block = 0)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    out.u16le(static_cast<std::uint16_t>(FrameHeader::kSize + payload.size()));
    out.u8(type);
    out.u8(sub);
    out.u16le(0);
    out.u8(0);
    out.u8(count);
    out.u32le(block);
    out.bytes(payload);
    return bytes;
}

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("hostile_peer: connect");
        std::exit(1);
    }
    return fd;
}

// Sends all of `bytes` unless the deadline passes first; false then.
bool sendBefore(int fd, ByteSpan bytes, Clock::time_point deadline)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd waiting{fd, POLLOUT, 0};
        if (left <= 0 || ::poll(&waiting, 1, static_cast<int>(left)) <= 0)
            return false;
        const auto n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

int flood(int port, const std::string& remotePath, int seconds)
{
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    const int fd = connectTo(port);
    const std::vector<std::uint8_t> hello(PeerInfo::kSize, 0);
    TaskRecord request;
    request.remotePath = remotePath;
    request.localPath = "/dev/null";
    sendBefore(fd, frame(kFrameHello, kSubHello, hello), deadline);
    sendBefore(fd, frame(kFrameFile, kSubFileRequest, encodeTaskRecord(request)), deadline);
    // A megabyte of requests at a time, for four blocks each.
    std::vector<std::uint8_t> requests;
    for (int i = 0; i < 87381; ++i) {
        const auto one = frame(kFrameBlocks, kSubBlockRequest, {}, 4, static_cast<std::uint32_t>(i % 64) * 4);
        requests.insert(requests.end(), one.begin(), one.end());
    }
    std::size_t sent = 0;
    while (sendBefore(fd, requests, deadline))
        sent += requests.size();
    std::printf("sent %zu bytes of requests\n", sent);
    ::close(fd);
    return 0;
}

int idle(int port, int count, int seconds)
{
    std::vector<int> links;
    for (int i = 0; i < count; ++i)
        links.push_back(connectTo(port));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (const int fd : links)
        ::close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "flood" && argc == 5)
        return flood(std::atoi(argv[2]), argv[3], std::atoi(argv[4]));
    if (mode == "idle" && argc == 5)
        return idle(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    std::fprintf(stderr, "usage: hostile_peer flood PORT REMOTE_PATH SECONDS | idle PORT COUNT SECONDS\n");
    return 2;
}
