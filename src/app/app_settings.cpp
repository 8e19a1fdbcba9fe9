#include "app/app_settings.h"

namespace vandry {

ServerList::Entry ServerList::entry(std::size_t index) const
{
    if (index >= kServerCount)
        return {};
    std::lock_guard lock(mutex_);
    return {addresses_[index], ports_[index]};
}

std::array<ServerList::Entry, kServerCount> ServerList::entries() const
{
    std::array<Entry, kServerCount> all;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < kServerCount; ++i)
        all[i] = {addresses_[i], ports_[i]};
    return all;
}

void ServerList::setEntry(std::size_t index, std::string address, std::uint16_t port)
{
    if (index >= kServerCount)
        return;
    std::lock_guard lock(mutex_);
    addresses_[index] = std::move(address);
    ports_[index] = port;
}

void ServerList::clearAddresses()
{
    std::lock_guard lock(mutex_);
    for (auto& address : addresses_)
        address.clear();
}

bool ServerList::offerBest(int index)
{
    int current = best_.load();
    while (current == -1 || current > index)
        if (best_.compare_exchange_weak(current, index))
            return true;
    return false;
}

} // namespace vandry
