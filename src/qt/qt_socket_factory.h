#pragma once
// Creates the Qt transports; they live on, and call back on, the thread that creates them.

#include "common/socket.h"

namespace vandry {

class QtSocketFactory final : public SocketFactory {
public:
    std::unique_ptr<DatagramSocket> createDatagramSocket() override;
    std::unique_ptr<StreamSocket> createStreamSocket() override;
    std::unique_ptr<StreamListener> createStreamListener() override;
};

} // namespace vandry
