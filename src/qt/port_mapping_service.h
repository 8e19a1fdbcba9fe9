#pragma once
// The copy's port mapper on this machine: UPnP-IGD (miniupnpc) and NAT-PMP (libnatpmp) gateways,
// a worker thread for their blocking calls, and results handled on the main thread. Destroying
// the service waits for the worker, so the removals that PortMapper::stop queued reach the
// router before the process ends.

#include <memory>
#include <vector>

#include "common/serial_worker.h"
#include "portmap/port_mapper.h"

namespace vandry {

class PortMappingService {
public:
    PortMappingService(const std::vector<MappingMethod>& methods, const Clock& clock, EventLoop& loop,
                       std::function<void(const std::string&)> log);
    ~PortMappingService();
    PortMapper& mapper() { return *mapper_; }

private:
    std::vector<std::unique_ptr<PortGateway>> gateways_;
    SerialWorker worker_;
    std::unique_ptr<PortMapper> mapper_; // goes first: its jobs still run on the worker
};

} // namespace vandry
