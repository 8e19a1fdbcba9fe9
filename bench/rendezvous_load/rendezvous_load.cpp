// rendezvous_load: plays many copies against one rendezvous server over loopback, bounded in count
// (at most 200,000 copies) and time (at most an hour). Every copy has its own address in
// 127.0.0.0/8; one socket bound to all of them receives for every copy and sends from the copy's
// address (IP_PKTINFO). Like a real copy, each announces every period (sub-type 1 the first time and
// every fourth time) and echoes the server's return-routability checks (type 147 sub-type 0). The
// watched copies read every list they are sent; at the end the run reports the traffic, how many
// watched copies have a complete list, and the server's CPU share and peak memory when its process
// is named. See bench/rendezvous_load.sh.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <queue>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/control_datagram.h"
#include "load_copy_set.h"
#include "load_options.h"

namespace {
using namespace vandry;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kBatch = 64;
constexpr std::size_t kWatchBudget = 40'000'000; // entries of the watched copies' tables (2 bytes each)
constexpr std::uint8_t kEchoRequest = 0;
constexpr std::uint8_t kEchoAnswer = 1;
constexpr std::uint8_t kRefusalType = 148;

struct Counters {
    std::uint64_t announces = 0, echoes = 0, listDatagrams = 0, listBytes = 0, refusals = 0, unreadable = 0;
};

struct ProcessSample {
    double cpuSeconds = 0;
    long peakRssKb = 0;
};

ProcessSample sampleProcess(int pid)
{
    ProcessSample sample;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::stoull(field);
            if (i == 15)
                stime = std::stoull(field);
        }
        sample.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            sample.peakRssKb = std::stol(line.substr(6));
    return sample;
}

class LoadRun {
public:
    LoadRun(const LoadOptions& options, int socket)
        : o_(options), socket_(socket),
          copies_(options.population, options.firstCopy, options.copies,
                  options.watched ? options.watched : std::max<std::size_t>(1, kWatchBudget / options.population))
    {
        // Copies are numbered from 0 here; the population's number is firstCopy more.
        for (std::uint32_t copy = 0; copy < o_.copies; ++copy)
            due_.push({static_cast<std::int64_t>(o_.joinWithinSeconds * 1000 * copy / o_.copies), copy});
        announceCount_.assign(o_.copies, 0);
        sockaddr_in local{};
        socklen_t length = sizeof local;
        getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
    }

    int run();

private:
    std::int64_t elapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    }
    void announceDue(std::int64_t nowMs);
    void receiveBatch();
    void handle(ByteSpan datagram, Ipv4 to);
    void sendFrom(std::uint32_t copy, ByteSpan datagram);
    void progress(std::int64_t nowMs);
    int report();

    const LoadOptions& o_;
    int socket_;
    std::uint16_t port_ = 0;
    LoadCopySet copies_;
    std::priority_queue<std::pair<std::int64_t, std::uint32_t>, std::vector<std::pair<std::int64_t, std::uint32_t>>,
                        std::greater<>>
        due_;
    std::vector<std::uint32_t> announceCount_;
    Clock::time_point start_ = Clock::now();
    Counters total_, atMeasureStart_;
    ProcessSample serverAtMeasureStart_;
    bool measuring_ = false;
    double measureFrom_ = 0;
    std::int64_t allCompleteAt_ = -1;
    std::int64_t nextCheckMs_ = 5000;
};

void LoadRun::sendFrom(std::uint32_t copy, ByteSpan datagram)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(o_.server.port);
    to.sin_addr.s_addr = htonl(o_.server.address);
    iovec iov{const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* cmsg = CMSG_FIRSTHDR(&message);
    cmsg->cmsg_level = IPPROTO_IP;
    cmsg->cmsg_type = IP_PKTINFO;
    cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(o_.firstAddress + copy);
    std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);
    for (int attempt = 0; attempt < 100 && sendmsg(socket_, &message, 0) < 0; ++attempt)
        if (errno != EAGAIN && errno != ENOBUFS && errno != EINTR)
            break;
}

void LoadRun::announceDue(std::int64_t nowMs)
{
    while (!due_.empty() && due_.top().first <= nowMs) {
        const auto [at, copy] = due_.top();
        due_.pop();
        const auto record = encodeHostRecord(LoadCopySet::recordOf(o_.firstCopy + copy, o_.firstAddress + copy, port_));
        ControlDatagram header;
        header.type = static_cast<std::uint8_t>(ControlType::Announce);
        header.subType = announceCount_[copy]++ % 4 == 0 ? 1 : 0; // as a copy: a full list every 80 s
        sendFrom(copy, *buildControlDatagram(header, record));
        ++total_.announces;
        due_.push({at + static_cast<std::int64_t>(o_.periodSeconds * 1000), copy});
    }
}

void LoadRun::handle(ByteSpan datagram, Ipv4 to)
{
    const std::uint32_t copy = to - o_.firstAddress;
    if (copy >= o_.copies || datagram.size() < ControlDatagram::kSize)
        return;
    const std::uint8_t type = datagram[2];
    if (type == static_cast<std::uint8_t>(ControlType::Echo) && datagram[3] == kEchoRequest) {
        std::vector<std::uint8_t> echo(datagram.begin(), datagram.end());
        echo[3] = kEchoAnswer;
        sendFrom(copy, echo);
        ++total_.echoes;
    } else if (type == static_cast<std::uint8_t>(ControlType::Records) ||
               type == static_cast<std::uint8_t>(ControlType::RecordsUpdate)) {
        ++total_.listDatagrams;
        total_.listBytes += datagram.size();
        if (!copies_.listed(o_.firstCopy + copy, datagram, elapsedMs() / 1000))
            ++total_.unreadable;
    } else if (type == kRefusalType) {
        ++total_.refusals;
    }
}

void LoadRun::receiveBatch()
{
    std::vector<std::uint8_t> buffers(kBatch * 65536);
    std::vector<mmsghdr> messages(kBatch);
    std::vector<iovec> iovs(kBatch);
    std::vector<std::array<char, CMSG_SPACE(sizeof(in_pktinfo))>> controls(kBatch);
    for (std::size_t i = 0; i < kBatch; ++i) {
        iovs[i] = {buffers.data() + i * 65536, 65536};
        messages[i].msg_hdr = {};
        messages[i].msg_hdr.msg_iov = &iovs[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_control = controls[i].data();
        messages[i].msg_hdr.msg_controllen = controls[i].size();
    }
    const int received = recvmmsg(socket_, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
    for (int i = 0; i < received; ++i) {
        Ipv4 to = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&messages[i].msg_hdr); c; c = CMSG_NXTHDR(&messages[i].msg_hdr, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                to = ntohl(info.ipi_addr.s_addr);
            }
        handle(ByteSpan(buffers.data() + static_cast<std::size_t>(i) * 65536, messages[i].msg_len), to);
    }
}

void LoadRun::progress(std::int64_t nowMs)
{
    const std::int64_t second = nowMs / 1000;
    const std::size_t complete = copies_.completeCount(second);
    const double lastJoin = o_.joinWithinSeconds;
    if (complete == copies_.watchedCount() && allCompleteAt_ < 0 && second >= lastJoin)
        allCompleteAt_ = second;
    std::fprintf(stderr,
                 "t=%llds: %llu announces, %llu list datagrams, %zu of %zu watched complete (fewest %zu of %zu)\n",
                 static_cast<long long>(second), static_cast<unsigned long long>(total_.announces),
                 static_cast<unsigned long long>(total_.listDatagrams), complete, copies_.watchedCount(),
                 copies_.fewestListed(second), copies_.wanted());
}

int LoadRun::run()
{
    measureFrom_ = o_.measureFromSeconds >= 0 ? o_.measureFromSeconds : o_.joinWithinSeconds + 2 * o_.periodSeconds;
    if (measureFrom_ >= o_.durationSeconds)
        measureFrom_ = 0;
    const auto endMs = static_cast<std::int64_t>(o_.durationSeconds * 1000);
    for (std::int64_t now = elapsedMs(); now < endMs; now = elapsedMs()) {
        if (!measuring_ && now >= measureFrom_ * 1000) {
            measuring_ = true;
            atMeasureStart_ = total_;
            if (o_.serverPid)
                serverAtMeasureStart_ = sampleProcess(o_.serverPid);
        }
        announceDue(now);
        if (now >= nextCheckMs_) {
            progress(now);
            nextCheckMs_ += 5000;
        }
        pollfd readable{socket_, POLLIN, 0};
        const std::int64_t nextDue = due_.empty() ? endMs : due_.top().first;
        const int waitMs = static_cast<int>(std::clamp<std::int64_t>(nextDue - now, 0, 5));
        if (poll(&readable, 1, waitMs) > 0)
            receiveBatch();
    }
    return report();
}

int LoadRun::report()
{
    const double window = o_.durationSeconds - measureFrom_;
    const auto rate = [window](std::uint64_t after, std::uint64_t before) {
        return static_cast<double>(after - before) / window;
    };
    const std::int64_t second = elapsedMs() / 1000;
    const std::size_t complete = copies_.completeCount(second);
    if (o_.population != o_.copies)
        std::printf("copies %u to %u of %u: ", o_.firstCopy, o_.firstCopy + o_.copies - 1, o_.population);
    std::printf("copies %u joining within %.0f s, announcing every %.0f s; ran %.0f s, measured from %.0f s\n",
                o_.copies, o_.joinWithinSeconds, o_.periodSeconds, o_.durationSeconds, measureFrom_);
    std::printf(
        "announces/s %.1f, echoes/s %.1f, list datagrams/s %.1f (%.1f KB/s), refusals/s %.2f, unreadable %llu\n",
        rate(total_.announces, atMeasureStart_.announces), rate(total_.echoes, atMeasureStart_.echoes),
        rate(total_.listDatagrams, atMeasureStart_.listDatagrams),
        rate(total_.listBytes, atMeasureStart_.listBytes) / 1000, rate(total_.refusals, atMeasureStart_.refusals),
        static_cast<unsigned long long>(total_.unreadable));
    std::printf("lists complete: %zu of %zu watched (%.1f%%), fewest others online %zu of %zu wanted", complete,
                copies_.watchedCount(),
                100.0 * static_cast<double>(complete) / static_cast<double>(copies_.watchedCount()),
                copies_.fewestListed(second), copies_.wanted());
    if (allCompleteAt_ >= 0)
        std::printf("; all complete %.0f s after the last join\n",
                    static_cast<double>(allCompleteAt_) - o_.joinWithinSeconds);
    else
        std::printf("; never all complete\n");
    if (o_.serverPid) {
        const ProcessSample end = sampleProcess(o_.serverPid);
        std::printf("server: %.1f%% of one core, peak memory %.1f MB\n",
                    100.0 * (end.cpuSeconds - serverAtMeasureStart_.cpuSeconds) / window, end.peakRssKb / 1024.0);
    }
    return o_.expectComplete && complete < copies_.watchedCount() ? 1 : 0;
}

int openSocket()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    const int buffer = 256 << 20;
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}
} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = parseLoadOptions(argc, argv, error);
    if (!options) {
        std::fputs(error.empty() ? kLoadUsage : ("rendezvous_load: " + error + "\n").c_str(),
                   error.empty() ? stdout : stderr);
        return error.empty() ? 0 : 2;
    }
    const int socket = openSocket();
    if (socket < 0) {
        std::perror("rendezvous_load: socket");
        return 1;
    }
    LoadRun run(*options, socket);
    const int status = run.run();
    close(socket);
    return status;
}
