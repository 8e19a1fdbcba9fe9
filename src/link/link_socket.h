#pragma once
// LinkSocket: the framing layer of one peer link. It carries frames over a TCP connection or over
// a connection of the reliable datagram transport, reassembles received bytes into frames and
// hands each complete frame to the link, and turns transport events into calls on the link.
//
// Receiving: frames always start at the front of the receive buffer. Frames are looked at only
// while more than 8 bytes are buffered; a length field of 0 stops processing of the buffered bytes
// (the link then ends through the idle sweep or a close). A frame whose payload breaks the size
// table of frame.h, whose length is below a header, or whose type is outside the message set goes
// to onFrameRefused instead of onFrame.
//
// Sending: a frame is built in place in the send buffer (payload at offset 12) and sent with
// sendFrame, or an already complete frame anywhere (typically the received frame rewritten in
// place) with sendRaw. When the transport (TCP, or the datagram connection's send buffer) takes
// only part of a frame, the rest is copied out of the buffer
// into a queue of unsent bytes, so the send buffer is at once free for the next frame; later frames
// join the queue behind it, and `writable` sends exactly what is left. While bytes are queued no
// further received frame is handled: every frame is answered by at most a few frames, so this
// bounds the queue, and a peer that stops reading (or acknowledging) is stopped in turn. A queue that would overflow
// fails the link with "网络断开". The link may also pause frame handling itself (pauseFrames).
//
// Everything runs on the link's thread; the datagram transport must post its calls there.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/clock.h"
#include "common/ipv4.h"
#include "common/socket.h"
#include "link/frame.h"
#include "link/link_report.h"

namespace vandry {

// A slot of the link table.
enum class LinkIndex : std::uint16_t {};

// The connections of the reliable datagram transport, one per link index.
class DatagramLinkTransport {
public:
    virtual ~DatagramLinkTransport() = default;
    // Appends what fits of `bytes` to the outgoing buffer of the link's connection and returns the
    // count taken (copied). When it is less than offered, the link keeps the rest and offers it
    // again on datagramWritable.
    virtual std::size_t queueFrame(LinkIndex link, ByteSpan bytes) = 0;
    // Ends the link's connection; `notifyPeer` is false when the transport itself ended it.
    virtual void endConnection(LinkIndex link, bool notifyPeer) = 0;
    // The link handles frames again: received bytes it could not take before may come now.
    virtual void resumeDelivery(LinkIndex link) = 0;
    // Where the link's connection sends its packets: the peer, or the relay that carries them.
    virtual Endpoint packetDestination(LinkIndex link) const = 0;
    // True when a server relays the connection's packets (packetDestination is then the server).
    virtual bool packetsRelayed(LinkIndex) const { return false; }
};

enum class LinkTransport : std::uint8_t {
    Tcp = 0,            // a TCP connection, if any
    Datagram = 1,       // a datagram-transport connection
    DatagramEnding = 2, // the datagram transport has ended the connection itself
};

struct LinkSocketContext {
    SocketFactory& sockets;
    DatagramLinkTransport& datagrams;
    const Clock& clock;
};

class LinkSocket {
public:
    static constexpr std::size_t kBufferSize = kMaxFrameSize;
    // Room for the unsent rest of one frame and a largest frame behind it.
    static constexpr std::size_t kUnsentCapacity = 2 * kBufferSize;
    // The error value with which the datagram transport reports a connection it ended itself.
    static constexpr int kDatagramEndedByTransport = 2;

    LinkSocket(LinkIndex index, LinkSocketContext context);
    virtual ~LinkSocket();
    LinkSocket(const LinkSocket&) = delete;
    LinkSocket& operator=(const LinkSocket&) = delete;

    LinkIndex index() const { return index_; }
    LinkTransport transport() const { return transport_; }
    // In use while a TCP connection exists or a datagram connection is assigned.
    bool inUse() const { return tcp_ != nullptr || transport_ != LinkTransport::Tcp; }
    std::size_t received() const { return received_; }
    // Seconds of the last frame handled or of the last reset.
    std::int64_t lastActivity() const { return lastActivity_; }
    bool hasUnsentBytes() const { return unsentFrom_ < unsent_.size(); }
    // How the link reaches its peer: "TCP 198.18.0.5:1553" or "datagram 198.18.0.5:1552"; empty
    // while it has no connection.
    std::string path() const;

    // Starts a new conversation over TCP; the outcome arrives as onLinkConnected or failLink.
    void openTcp(Endpoint peer);
    // Starts a new conversation on a connection the listener accepted; the peer speaks first.
    void acceptTcp(std::unique_ptr<StreamSocket> connection);
    // Starts a new conversation on the datagram transport's connection for this link index.
    void useDatagramTransport();

    // Calls from the datagram transport.
    // Takes received bytes as far as the receive buffer has room, handling the frames they
    // complete as it goes; returns the count taken. The rest waits in the transport while the
    // link holds frames back (pauseFrames, unsent bytes), and comes with resumeDelivery.
    std::size_t deliver(ByteSpan bytes);
    void datagramConnected(int error);
    void datagramClosed(int error);
    // Acknowledged bytes have made room in the connection's send buffer.
    void datagramWritable();

    // The frame under construction: the whole send buffer, and its payload area from offset 12.
    MutableByteSpan sendBuffer() { return sendBuffer_; }
    MutableByteSpan sendPayload() { return MutableByteSpan(sendBuffer_).subspan(FrameHeader::kSize); }
    // Fills offsets 0..6 of the send buffer's header and sends the frame. Returns the frame's length
    // once it is sent or queued in full, -1 when it cannot be.
    int sendFrame(std::size_t payloadLength, std::uint8_t type, std::uint8_t sub);
    // Sends a complete frame as it stands; its length field gives its size.
    int sendRaw(ByteSpan frame);

    // Closes the TCP connection, or ends the datagram connection (telling the peer unless the
    // transport ended it); buffered bytes stay.
    void closeTransport();
    // Returns the link to idle: closes the transport, drops received and unsent bytes, marks the time.
    void reset();

protected:
    // While paused, received frames wait in the buffer and TCP holds back what follows them: a
    // sharer holding an answer handles the requests behind it only once the answer has gone.
    void pauseFrames() { framesPaused_ = true; }
    void resumeFrames();

    // One complete frame of `frame.size()` bytes at the front of the receive buffer. It may be
    // rewritten in place (and sent back with sendRaw); it is discarded afterwards.
    virtual void onFrame(MutableByteSpan frame) = 0;
    // A frame that no handler may see; the link's refusal path.
    virtual void onFrameRefused(std::uint8_t type, std::uint8_t sub) = 0;
    virtual void failLink(const LinkReport& report) = 0;
    // The connection to the peer is up: send the opening frame.
    virtual void onLinkConnected() = 0;

private:
    void attachTcp(std::unique_ptr<StreamSocket> connection, bool connected);
    void closeTcp();
    void onTcpConnected();
    void onTcpClosed();
    void onTcpWritable();
    // Offers the unsent bytes to the transport again; true when they have all gone.
    bool flushUnsent();
    std::int64_t writeToTransport(ByteSpan bytes);
    void receiveTcp();
    void processFrames();
    void handleFrame(std::size_t length);
    void consume(std::size_t length);
    int transmit(ByteSpan frame);
    bool queueUnsent(ByteSpan rest);

    LinkIndex index_;
    LinkSocketContext context_;
    LinkTransport transport_ = LinkTransport::Tcp;
    std::unique_ptr<StreamSocket> tcp_;
    // A closed connection is kept until the next one, so that bytes it still holds go out.
    std::unique_ptr<StreamSocket> closedTcp_;
    bool tcpConnected_ = false;
    std::vector<std::uint8_t> receiveBuffer_;
    std::vector<std::uint8_t> sendBuffer_;
    std::size_t received_ = 0;
    // Bytes TCP has not taken yet, from unsentFrom_ on; reserved once, never grown past capacity.
    std::vector<std::uint8_t> unsent_;
    std::size_t unsentFrom_ = 0;
    std::int64_t lastActivity_ = 0;
    std::uint64_t resets_ = 0; // tells the frame loop that a handler reset the link
    bool processing_ = false;
    bool framesPaused_ = false;
};

} // namespace vandry
