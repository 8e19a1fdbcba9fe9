#include "udt/udt_worker.h"

namespace vandry {

CGuardianUDT::~CGuardianUDT()
{
    stop();
}

void CGuardianUDT::start(UdtTransport& transport)
{
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || stopping_)
        return;
    transport_ = &transport;
    thread_ = std::thread([this] { run(); });
}

void CGuardianUDT::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void CGuardianUDT::requestTransmit(std::uint8_t connection)
{
    request(transmit_, connection);
}

void CGuardianUDT::requestRetransmit(std::uint8_t connection)
{
    request(retransmit_, connection);
}

void CGuardianUDT::request(std::bitset<UdtTransport::kConnections>& set, std::uint8_t connection)
{
    if (connection >= UdtTransport::kConnections)
        return;
    {
        std::lock_guard lock(mutex_);
        set.set(connection);
    }
    wake_.notify_one();
}

void CGuardianUDT::run()
{
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(UdtTransport::kTickMs);
    auto nextTick = Clock::now() + period;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_until(lock, nextTick, [this] { return stopping_ || transmit_.any() || retransmit_.any(); });
        if (stopping_)
            break;
        const auto transmit = std::exchange(transmit_, {});
        const auto retransmit = std::exchange(retransmit_, {});
        lock.unlock();
        for (std::uint8_t i = 0; i < UdtTransport::kConnections; ++i) {
            if (retransmit.test(i))
                transport_->retransmit(i);
            if (transmit.test(i))
                transport_->transmitQueued(i);
        }
        if (Clock::now() >= nextTick) {
            transport_->tick();
            nextTick = Clock::now() + period;
        }
        lock.lock();
    }
}

} // namespace vandry
