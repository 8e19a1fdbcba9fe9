#include "link/link_socket.h"

#include <algorithm>
#include <cassert>

namespace vandry {

namespace {
// Frames are looked at only while more than this many bytes are buffered.
constexpr std::size_t kMinBufferedForFrame = 8;
} // namespace

LinkSocket::LinkSocket(LinkIndex index, LinkSocketContext context)
    : index_(index), context_(context), receiveBuffer_(kBufferSize), sendBuffer_(kBufferSize),
      lastActivity_(context.clock.nowSeconds())
{
    unsent_.reserve(kUnsentCapacity);
}

LinkSocket::~LinkSocket() = default;

void LinkSocket::openTcp(Endpoint peer)
{
    reset();
    attachTcp(context_.sockets.createStreamSocket(), false);
    if (tcp_)
        tcp_->connectTo(peer);
}

void LinkSocket::acceptTcp(std::unique_ptr<StreamSocket> connection)
{
    reset();
    attachTcp(std::move(connection), true);
    // The peer may have spoken before the handlers were set.
    receiveTcp();
}

void LinkSocket::useDatagramTransport()
{
    reset();
    transport_ = LinkTransport::Datagram;
}

std::string LinkSocket::path() const
{
    const auto text = [](const char* kind, Endpoint at) {
        return std::string(kind) + ipv4ToText(at.address) + ':' + std::to_string(at.port);
    };
    if (transport_ != LinkTransport::Tcp)
        return text(context_.datagrams.packetsRelayed(index_) ? "relay " : "datagram ",
                    context_.datagrams.packetDestination(index_));
    return tcp_ ? text("TCP ", tcp_->peer()) : std::string();
}

void LinkSocket::attachTcp(std::unique_ptr<StreamSocket> connection, bool connected)
{
    closeTcp();
    if (!connection)
        return;
    tcp_ = std::move(connection);
    tcpConnected_ = connected;
    // A connection that was closed or replaced may still report; only the current one is heard.
    StreamSocket* const socket = tcp_.get();
    const auto whileCurrent = [this, socket](void (LinkSocket::*handler)()) {
        return [this, socket, handler] {
            if (tcp_.get() == socket)
                (this->*handler)();
        };
    };
    tcp_->setHandlers({whileCurrent(&LinkSocket::onTcpConnected), whileCurrent(&LinkSocket::receiveTcp),
                       whileCurrent(&LinkSocket::onTcpWritable), whileCurrent(&LinkSocket::onTcpClosed)});
}

void LinkSocket::closeTcp()
{
    if (!tcp_)
        return;
    tcp_->close();
    closedTcp_ = std::move(tcp_);
    tcpConnected_ = false;
}

void LinkSocket::closeTransport()
{
    if (transport_ != LinkTransport::Tcp) {
        const bool notifyPeer = transport_ == LinkTransport::Datagram;
        transport_ = LinkTransport::Tcp;
        context_.datagrams.endConnection(index_, notifyPeer);
    }
    closeTcp();
}

void LinkSocket::reset()
{
    closeTransport();
    // Bytes of the ended conversation must not stand in front of the next conversation's first frame.
    received_ = 0;
    unsent_.clear();
    unsentFrom_ = 0;
    framesPaused_ = false;
    lastActivity_ = context_.clock.nowSeconds();
    ++resets_;
}

void LinkSocket::onTcpConnected()
{
    tcpConnected_ = true;
    onLinkConnected();
}

void LinkSocket::onTcpClosed()
{
    StreamSocket* const socket = tcp_.get();
    const bool wasConnected = tcpConnected_;
    // Frames that arrived before the close are still the peer's last words.
    receiveTcp();
    if (tcp_.get() == socket)
        failLink(wasConnected ? kReportNetworkLost : kReportConnectFailed);
}

void LinkSocket::onTcpWritable()
{
    if (flushUnsent())
        receiveTcp(); // frames held back while the queue drained
}

void LinkSocket::datagramWritable()
{
    if (transport_ == LinkTransport::Datagram && flushUnsent()) {
        processFrames();
        context_.datagrams.resumeDelivery(index_);
    }
}

bool LinkSocket::flushUnsent()
{
    if (!hasUnsentBytes())
        return false;
    const auto rest = ByteSpan(unsent_).subspan(unsentFrom_);
    const auto taken = writeToTransport(rest);
    if (taken <= 0)
        return false; // a broken connection reports `closed`
    unsentFrom_ += std::min(static_cast<std::size_t>(taken), rest.size());
    if (hasUnsentBytes())
        return false;
    unsent_.clear();
    unsentFrom_ = 0;
    return true;
}

std::int64_t LinkSocket::writeToTransport(ByteSpan bytes)
{
    if (transport_ == LinkTransport::Datagram)
        return static_cast<std::int64_t>(context_.datagrams.queueFrame(index_, bytes));
    return tcp_ ? tcp_->write(bytes) : -1;
}

void LinkSocket::receiveTcp()
{
    StreamSocket* const socket = tcp_.get();
    processFrames();
    while (socket && tcp_.get() == socket && !hasUnsentBytes() && !framesPaused_ && received_ < kBufferSize) {
        const auto count = socket->read(MutableByteSpan(receiveBuffer_).subspan(received_));
        if (count <= 0)
            return; // nothing more for now; a broken connection reports `closed`
        received_ += std::min(static_cast<std::size_t>(count), kBufferSize - received_);
        processFrames();
    }
}

std::size_t LinkSocket::deliver(ByteSpan bytes)
{
    std::size_t taken = 0;
    while (transport_ != LinkTransport::Tcp && taken < bytes.size() && received_ < kBufferSize) {
        const std::size_t count = std::min(bytes.size() - taken, kBufferSize - received_);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(taken), count,
                    receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(received_));
        received_ += count;
        taken += count;
        const auto resets = resets_;
        processFrames();
        if (resets != resets_)
            return bytes.size(); // the conversation ended: the rest belongs to nobody
    }
    return transport_ == LinkTransport::Tcp ? bytes.size() : taken;
}

void LinkSocket::datagramConnected(int error)
{
    // A late call about a connection this link no longer uses must not touch its next conversation.
    if (transport_ == LinkTransport::Tcp)
        return;
    if (error == 0)
        onLinkConnected();
    else
        failLink(kReportConnectFailed);
}

void LinkSocket::datagramClosed(int error)
{
    if (transport_ == LinkTransport::Tcp)
        return;
    // The transport has ended the connection already, so the reset must not tell the peer again.
    if (error == kDatagramEndedByTransport)
        transport_ = LinkTransport::DatagramEnding;
    failLink(kReportNetworkLost);
}

void LinkSocket::resumeFrames()
{
    framesPaused_ = false;
    if (tcp_) {
        receiveTcp();
        return;
    }
    processFrames();
    if (transport_ == LinkTransport::Datagram)
        context_.datagrams.resumeDelivery(index_);
}

void LinkSocket::processFrames()
{
    if (processing_)
        return; // the running loop reaches bytes added meanwhile
    processing_ = true;
    while (received_ > kMinBufferedForFrame && !hasUnsentBytes() && !framesPaused_) {
        const std::size_t length = loadU16le(receiveBuffer_, FrameHeader::kLengthOffset);
        if (length == 0 || received_ < length)
            break;
        const auto resets = resets_;
        handleFrame(length);
        // A reset inside the handler has dropped the frame with everything else.
        if (resets == resets_)
            consume(length);
    }
    processing_ = false;
}

void LinkSocket::handleFrame(std::size_t length)
{
    lastActivity_ = context_.clock.nowSeconds();
    // More than 8 bytes are buffered, so type and sub can be read even from a too short frame.
    const std::uint8_t type = receiveBuffer_[FrameHeader::kTypeOffset];
    const std::uint8_t sub = receiveBuffer_[FrameHeader::kSubOffset];
    if (length < FrameHeader::kSize || !payloadAllowed(type, sub, length - FrameHeader::kSize))
        onFrameRefused(type, sub);
    else
        onFrame(MutableByteSpan(receiveBuffer_).first(length));
}

void LinkSocket::consume(std::size_t length)
{
    length = std::min(length, received_);
    const auto from = receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(length);
    std::copy(from, from + static_cast<std::ptrdiff_t>(received_ - length), receiveBuffer_.begin());
    received_ -= length;
}

int LinkSocket::sendFrame(std::size_t payloadLength, std::uint8_t type, std::uint8_t sub)
{
    assert(payloadAllowed(type, sub, payloadLength));
    if (payloadLength > kMaxFramePayload)
        return -1;
    const auto length = static_cast<std::uint16_t>(payloadLength + FrameHeader::kSize);
    storeFrameStart(sendBuffer_, length, type, sub);
    return transmit(ByteSpan(sendBuffer_).first(length));
}

int LinkSocket::sendRaw(ByteSpan frame)
{
    if (frame.size() < FrameHeader::kSize)
        return -1;
    const std::size_t length = loadU16le(frame, FrameHeader::kLengthOffset);
    if (length < FrameHeader::kSize || length > frame.size())
        return -1;
    assert(
        payloadAllowed(frame[FrameHeader::kTypeOffset], frame[FrameHeader::kSubOffset], length - FrameHeader::kSize));
    return transmit(frame.first(length));
}

int LinkSocket::transmit(ByteSpan frame)
{
    const int length = static_cast<int>(frame.size());
    const bool datagram = transport_ == LinkTransport::Datagram;
    if (!datagram && (transport_ != LinkTransport::Tcp || !tcp_))
        return -1;
    std::size_t taken = 0;
    if (!hasUnsentBytes()) {
        const auto count = writeToTransport(frame);
        if (count < 0)
            return -1; // a broken connection reports `closed`
        taken = std::min(static_cast<std::size_t>(count), frame.size());
    }
    if (taken < frame.size() && !queueUnsent(frame.subspan(taken))) {
        // The peer has stopped reading; dropping a frame would corrupt the byte stream.
        failLink(kReportNetworkLost);
        return -1;
    }
    return length;
}

bool LinkSocket::queueUnsent(ByteSpan rest)
{
    unsent_.erase(unsent_.begin(), unsent_.begin() + static_cast<std::ptrdiff_t>(unsentFrom_));
    unsentFrom_ = 0;
    if (unsent_.size() + rest.size() > kUnsentCapacity)
        return false;
    unsent_.insert(unsent_.end(), rest.begin(), rest.end());
    return true;
}

} // namespace vandry
