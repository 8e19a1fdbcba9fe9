#include "server/batch_udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vandry {

namespace {
sockaddr_in socketAddress(Ipv4 address, std::uint16_t port)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    out.sin_addr.s_addr = htonl(address);
    return out;
}
} // namespace

BatchUdpSocket::BatchUdpSocket(Ipv4 bindAddress) : bindAddress_(bindAddress), buffers_(kBatch * kMaxDatagram) {}

BatchUdpSocket::~BatchUdpSocket()
{
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

bool BatchUdpSocket::bind(std::uint16_t port)
{
    if (fd_ >= 0)
        return false;
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    const sockaddr_in local = socketAddress(bindAddress_, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    applyReceiveBuffer();
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { receiveBatch(); });
    return true;
}

std::uint16_t BatchUdpSocket::localPort() const
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

bool BatchUdpSocket::sendTo(ByteSpan datagram, Endpoint destination)
{
    if (fd_ < 0)
        return false;
    if (outgoingCount_ == kBatch)
        flush();
    outgoing_[outgoingCount_].assign(datagram.begin(), datagram.end());
    outgoingTo_[outgoingCount_] = socketAddress(destination.address, destination.port);
    ++outgoingCount_;
    if (!receiving_)
        flush();
    return true;
}

void BatchUdpSocket::flush()
{
    std::array<mmsghdr, kBatch> messages{};
    std::array<iovec, kBatch> iovs{};
    for (std::size_t i = 0; i < outgoingCount_; ++i) {
        iovs[i] = {outgoing_[i].data(), outgoing_[i].size()};
        messages[i].msg_hdr.msg_iov = &iovs[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &outgoingTo_[i];
        messages[i].msg_hdr.msg_namelen = sizeof outgoingTo_[i];
    }
    std::size_t done = 0;
    while (done < outgoingCount_) {
        const int sent = sendmmsg(fd_, messages.data() + done, static_cast<unsigned>(outgoingCount_ - done), 0);
        if (sent > 0)
            done += static_cast<std::size_t>(sent);
        else if (errno != EINTR)
            ++done; // the first one failed: drop it and go on with the rest
    }
    outgoingCount_ = 0;
}

void BatchUdpSocket::setReceiveBufferSize(int bytes)
{
    receiveBufferSize_ = bytes;
    applyReceiveBuffer();
}

void BatchUdpSocket::applyReceiveBuffer()
{
    if (fd_ < 0 || receiveBufferSize_ <= 0)
        return;
    // The forcing variant passes the system's cap when the process may; otherwise the cap applies.
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferSize_, sizeof receiveBufferSize_) != 0)
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize_, sizeof receiveBufferSize_);
}

void BatchUdpSocket::setMulticastTtl(int ttl)
{
    if (fd_ >= 0)
        setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
}

bool BatchUdpSocket::joinMulticastGroup(Ipv4 group)
{
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(group);
    return fd_ >= 0 && setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

void BatchUdpSocket::receiveBatch()
{
    std::array<mmsghdr, kBatch> messages{};
    std::array<iovec, kBatch> iovs{};
    std::array<sockaddr_in, kBatch> sources{};
    receiving_ = true;
    for (int wake = 0; wake < kBatchesPerWake; ++wake) {
        for (std::size_t i = 0; i < kBatch; ++i) {
            iovs[i] = {buffers_.data() + i * kMaxDatagram, kMaxDatagram};
            messages[i].msg_hdr = {};
            messages[i].msg_hdr.msg_iov = &iovs[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &sources[i];
            messages[i].msg_hdr.msg_namelen = sizeof sources[i];
        }
        const int received = recvmmsg(fd_, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (received <= 0)
            break;
        for (int i = 0; i < received; ++i) {
            // A datagram cut short by the buffer is not the datagram that was sent.
            if (!handler_ || (messages[i].msg_hdr.msg_flags & MSG_TRUNC) || sources[i].sin_family != AF_INET)
                continue;
            handler_(ByteSpan(buffers_.data() + static_cast<std::size_t>(i) * kMaxDatagram, messages[i].msg_len),
                     Endpoint{ntohl(sources[i].sin_addr.s_addr), ntohs(sources[i].sin_port)});
        }
        if (static_cast<std::size_t>(received) < kBatch)
            break;
    }
    receiving_ = false;
    flush();
}

} // namespace vandry
