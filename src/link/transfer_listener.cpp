#include "link/transfer_listener.h"

#include <array>

namespace vandry {

TransferListener::TransferListener(SocketFactory& sockets, EventLoop& loop, AcceptInto acceptInto)
    : sockets_(sockets), loop_(loop), acceptInto_(std::move(acceptInto))
{
}

TransferListener::~TransferListener()
{
    if (closeTimer_)
        closeTimer_->stop();
}

std::optional<std::uint16_t> TransferListener::start(std::uint16_t port)
{
    if (!listener_) {
        for (const std::uint16_t tried : {port, std::uint16_t{0}}) {
            listener_ = sockets_.createStreamListener();
            if (listener_ && listener_->listen(tried))
                break;
            listener_.reset();
        }
    }
    if (!listener_)
        return std::nullopt;
    listener_->setAcceptHandler([this](std::unique_ptr<StreamSocket> connection) { onAccept(std::move(connection)); });
    return listener_->localPort();
}

void TransferListener::onAccept(std::unique_ptr<StreamSocket> connection)
{
    if (connection && !acceptInto_(connection))
        turnAway(std::move(connection));
}

void TransferListener::turnAway(std::unique_ptr<StreamSocket> connection)
{
    static constexpr std::array<std::uint8_t, kRefusalBytes> kZeros{};
    connection->write(kZeros);
    if (waiting_.size() + due_.size() >= kMaxTurnedAway) {
        connection->close();
        return;
    }
    waiting_.push_back(std::move(connection));
    if (timerRunning_)
        return;
    if (!closeTimer_)
        closeTimer_ = loop_.createTimer();
    closeTimer_->start(kRefusalDelay, [this] { closeDue(); });
    timerRunning_ = true;
}

void TransferListener::closeDue()
{
    for (auto& connection : due_)
        connection->close();
    due_ = std::move(waiting_);
    waiting_.clear();
    // The timer stays: it must not be destroyed inside its own tick.
    if (due_.empty()) {
        closeTimer_->stop();
        timerRunning_ = false;
    }
}

} // namespace vandry
