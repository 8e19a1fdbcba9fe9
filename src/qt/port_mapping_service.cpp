#include "qt/port_mapping_service.h"

#include <random>

#include "qt/natpmp_gateway.h"
#include "qt/upnp_gateway.h"

namespace vandry {

PortMappingService::PortMappingService(const std::vector<MappingMethod>& methods, const Clock& clock, EventLoop& loop,
                                       std::function<void(const std::string&)> log)
    : worker_(SerialWorker::Mode::Thread)
{
    std::vector<PortGateway*> order;
    for (const MappingMethod method : methods) {
        if (method == MappingMethod::Upnp)
            gateways_.push_back(std::make_unique<UpnpGateway>());
        else
            gateways_.push_back(std::make_unique<NatPmpGateway>());
        order.push_back(gateways_.back().get());
    }
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    mapper_ = std::make_unique<PortMapper>(
        PortMapperContext{clock, loop, [this](std::function<void()> job) { worker_.post(std::move(job)); }, order,
                          std::move(log), [engine] { return static_cast<std::uint32_t>((*engine)()); }});
}

PortMappingService::~PortMappingService()
{
    mapper_.reset();
    worker_.drain();
}

} // namespace vandry
