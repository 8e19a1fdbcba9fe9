#pragma once
// One slot of the transport's connection table; slot i belongs to peer link i.
//
// Send side: the bytes of offsets sendBase .. sendBase + queued wait in a ring of 64 KiB (at most
// 65535 of them, the most a peer takes beyond what it acknowledged); the first `sent` have gone out at least once, so
// sendNext = sendBase + sent. The front of the ring is given back as soon as the peer acknowledges it, so sendBase
// follows peerAcked. Receive side: bytes of offsets recvBase on (the first not yet delivered to the link) sit in a ring
// of 128 KiB; `ranges` holds what arrived relative to recvBase, and recvNext is the end of the data contiguous from
// recvBase. Offsets are u32 and compared modulo 2^32.

#include <cstdint>
#include <vector>

#include "common/identity.h"
#include "common/ipv4.h"
#include "udt/receive_ranges.h"
#include "udt/udt_packet.h"

namespace vandry {

enum class UdtState : std::uint16_t {
    Free = 0,
    Calling = 8,
    Answered = 0x28,    // caller: confirm sent, waiting for the accept
    Accepted = 0x10,    // callee: established
    Established = 0x30, // caller: established
    ResetReceived = 0x50,
};

struct UdtConnection {
    // The peer may send up to 65535 bytes past what we acknowledged (recvNext), and bytes up to
    // recvNext may still wait for the link: the receive ring holds both.
    static constexpr std::size_t kSendRingSize = 65536;
    static constexpr std::size_t kSendLimit = 65535;
    static constexpr std::size_t kReceiveRingSize = 131072;
    static constexpr std::size_t kReceiveLimit = 131071;
    // The port of a slot that is calling and has no peer address yet.
    static constexpr std::uint16_t kCallingPort = 1;

    std::int64_t lastActive = 0;
    std::uint32_t handshakeTick = 0;
    // Caller: when the call began.
    std::uint32_t callTick = 0;
    HostIdentity key{}; // the callee's identity while calling, then the connection id
    UdtState state = UdtState::Free;
    std::uint16_t tag = 0;
    std::uint16_t outIndex = 0;
    Endpoint peer{};
    HandshakeRecord callRecord; // caller: the record the call and the confirm carry

    std::uint32_t sendBase = 0;
    std::uint32_t sendNext = 0;
    std::uint32_t peerAcked = 0;
    std::uint32_t queued = 0;
    std::uint32_t sent = 0;
    bool writerWaiting = false;     // the link offered more than fitted
    std::uint32_t progressTick = 0; // ms tick of the last send or acknowledgement gained

    std::uint32_t recvBase = 0;
    std::uint32_t recvNext = 0;
    std::uint32_t pushedEnd = 0; // end of the last batch the peer marked complete
    ReceiveRanges ranges;

    std::vector<std::uint8_t> outBuffer; // rings, allocated on first use and kept
    std::vector<std::uint8_t> inBuffer;

    bool inUse() const { return peer.port != 0; }
    bool established() const { return state == UdtState::Accepted || state == UdtState::Established; }
};

// Offsets modulo 2^32: a before b.
constexpr bool offsetBefore(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::int32_t>(a - b) < 0;
}

} // namespace vandry
