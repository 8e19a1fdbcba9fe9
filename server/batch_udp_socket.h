#pragma once
// The server's UDP socket: a non-blocking IPv4 socket read in batches (recvmmsg) from a
// QSocketNotifier. Each notification takes at most a few hundred datagrams and then returns to the
// event loop, so that the server's timers (the sweep of silent copies, the stats line) keep running
// while announces pour in; the rest waits in the socket's receive buffer. No datagram is copied
// into a fresh allocation on the way to the handler.
//
// What the handler sends while a batch is being read is queued and leaves in batches too
// (sendmmsg), after the batch or when the queue is full; a send from outside leaves at once. Like
// any UDP send, a queued datagram the system cannot take is dropped.

#include <QSocketNotifier>

#include <netinet/in.h>

#include <array>
#include <memory>
#include <vector>

#include "common/socket.h"

namespace vandry {

class BatchUdpSocket final : public DatagramSocket {
public:
    // `bindAddress` 0 binds every IPv4 interface.
    explicit BatchUdpSocket(Ipv4 bindAddress = 0);
    ~BatchUdpSocket() override;
    BatchUdpSocket(const BatchUdpSocket&) = delete;
    BatchUdpSocket& operator=(const BatchUdpSocket&) = delete;

    bool bind(std::uint16_t port) override;
    std::uint16_t localPort() const override;
    bool sendTo(ByteSpan datagram, Endpoint destination) override;
    // Applied at once when bound, else at bind(); above the system's limit when allowed to.
    void setReceiveBufferSize(int bytes) override;
    void setMulticastTtl(int ttl) override;
    bool joinMulticastGroup(Ipv4 group) override;
    void setReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }

private:
    void applyReceiveBuffer();
    void receiveBatch();
    void flush();

    static constexpr std::size_t kBatch = 64;
    static constexpr int kBatchesPerWake = 8;
    static constexpr std::size_t kMaxDatagram = 65535;

    int fd_ = -1;
    Ipv4 bindAddress_;
    int receiveBufferSize_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    ReceiveHandler handler_;
    std::vector<std::uint8_t> buffers_;
    bool receiving_ = false;
    std::array<std::vector<std::uint8_t>, kBatch> outgoing_; // kept allocated between batches
    std::array<sockaddr_in, kBatch> outgoingTo_{};
    std::size_t outgoingCount_ = 0;
};

} // namespace vandry
