#pragma once
// CGuardianUDT: the transport's worker thread. It sends what links queued and resends what the
// peer misses when asked, and runs the transport's tick every 500 ms. Requests for one
// connection that arrive while an earlier one waits are folded into it.

#include <bitset>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "udt/udt_transport.h"

namespace vandry {

class CGuardianUDT final : public UdtWorkQueue {
public:
    CGuardianUDT() = default;
    // Stops the thread.
    ~CGuardianUDT() override;
    CGuardianUDT(const CGuardianUDT&) = delete;
    CGuardianUDT& operator=(const CGuardianUDT&) = delete;

    // Starts the thread for `transport`, which must outlive stop(). Once only.
    void start(UdtTransport& transport);
    // Ends the thread; requests that arrive later are dropped.
    void stop();

    void requestTransmit(std::uint8_t connection) override;
    void requestRetransmit(std::uint8_t connection) override;

private:
    void run();
    void request(std::bitset<UdtTransport::kConnections>& set, std::uint8_t connection);

    UdtTransport* transport_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::bitset<UdtTransport::kConnections> transmit_;
    std::bitset<UdtTransport::kConnections> retransmit_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace vandry
