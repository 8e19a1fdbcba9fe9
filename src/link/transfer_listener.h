#pragma once
// TransferListener: accepts incoming links on the transfer port. A connection goes to a free link;
// when none is free it is turned away with 104 zero bytes (a frame length of 0, which the peer
// never handles) and closed about 100 ms later, so that the bytes leave first.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/event_loop.h"
#include "common/socket.h"

namespace vandry {

class TransferListener {
public:
    static constexpr std::uint16_t kDefaultPort = 1552;
    static constexpr std::size_t kRefusalBytes = 104;
    static constexpr std::chrono::milliseconds kRefusalDelay{100};
    // Beyond this many connections waiting to be closed, new ones are closed at once.
    static constexpr std::size_t kMaxTurnedAway = 32;

    // Hands a connection to a free link; false (connection untouched) when none is free.
    using AcceptInto = std::function<bool(std::unique_ptr<StreamSocket>& connection)>;

    TransferListener(SocketFactory& sockets, EventLoop& loop, AcceptInto acceptInto);
    ~TransferListener();
    TransferListener(const TransferListener&) = delete;
    TransferListener& operator=(const TransferListener&) = delete;

    // Listens on `port`, or on a free port when it is taken; the port bound, or nothing.
    std::optional<std::uint16_t> start(std::uint16_t port);

private:
    void onAccept(std::unique_ptr<StreamSocket> connection);
    void turnAway(std::unique_ptr<StreamSocket> connection);
    void closeDue();

    SocketFactory& sockets_;
    EventLoop& loop_;
    AcceptInto acceptInto_;
    std::unique_ptr<StreamListener> listener_;
    std::unique_ptr<Timer> closeTimer_;
    bool timerRunning_ = false;
    // Turned away since the last tick, and due at the next one: each waits one to two periods.
    std::vector<std::unique_ptr<StreamSocket>> waiting_;
    std::vector<std::unique_ptr<StreamSocket>> due_;
};

} // namespace vandry
