#include "server/core/copy_table.h"

#include <algorithm>

namespace vandry {

CopyTable::CopyTable(std::size_t capacity, std::int64_t forgetAfterSeconds, std::size_t perAddress)
    : capacity_(capacity), forgetAfter_(forgetAfterSeconds), perAddress_(perAddress)
{
}

KeptCopy* CopyTable::find(const HostIdentity& identity)
{
    const auto it = copies_.find(identity);
    return it == copies_.end() ? nullptr : &it->second;
}

const KeptCopy* CopyTable::find(const HostIdentity& identity) const
{
    const auto it = copies_.find(identity);
    return it == copies_.end() ? nullptr : &it->second;
}

std::optional<HostRecord> CopyTable::findLive(const HostIdentity& identity, std::int64_t now) const
{
    const auto it = copies_.find(identity);
    if (it == copies_.end() || now - it->second.lastHeard >= forgetAfter_)
        return std::nullopt;
    return record(it->second);
}

std::vector<const ListGroup::Datagram*> CopyTable::fullList(const KeptCopy& copy)
{
    std::vector<const ListGroup::Datagram*> out;
    std::size_t records = 0;
    const auto add = [&](ListGroup& group) {
        for (const auto& chunk : group.fullList()) {
            if (records >= ListGroup::kSlots)
                return;
            for (const auto& datagram : *chunk.datagrams)
                out.push_back(&datagram);
            records += chunk.records;
        }
    };
    add(*groups_[copy.group]);
    for (std::size_t other = 0; other < groups_.size() && records < ListGroup::kSlots; ++other)
        if (other != copy.group)
            add(*groups_[other]);
    return out;
}

Endpoint CopyTable::endpoint(const KeptCopy& copy) const
{
    const HostRecord& r = record(copy);
    return {r.mapAddr, r.mapPort};
}

std::size_t CopyTable::copiesAt(Ipv4 address) const
{
    const auto it = perAddressCount_.find(address);
    return it == perAddressCount_.end() ? 0 : it->second;
}

void CopyTable::countAddress(Ipv4 address, int delta)
{
    auto& count = perAddressCount_[address];
    count = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(count) + delta);
    if (count == 0)
        perAddressCount_.erase(address);
}

Admission CopyTable::admissible(Ipv4 address) const
{
    if (full())
        return Admission::TableFull;
    if (copiesAt(address) >= perAddress_)
        return Admission::AddressFull;
    return Admission::Admitted;
}

KeptCopy* CopyTable::admit(const HostRecord& record, std::int64_t now)
{
    if (copies_.contains(record.identity) || admissible(record.mapAddr) != Admission::Admitted)
        return nullptr;
    countAddress(record.mapAddr, +1);
    return place(record, now);
}

KeptCopy* CopyTable::admitRemote(const HostRecord& record, std::int64_t heardAt)
{
    if (copies_.contains(record.identity) || full())
        return nullptr;
    KeptCopy* copy = place(record, heardAt);
    copy->remote = true;
    return copy;
}

void CopyTable::updateRemote(KeptCopy& copy, const HostRecord& record, std::int64_t heardAt)
{
    copy.lastHeard = std::max(copy.lastHeard, heardAt);
    if (this->record(copy) != record)
        groups_[copy.group]->update(copy.slot, record);
}

void CopyTable::makeRemote(KeptCopy& copy, const HostRecord& record, std::int64_t heardAt)
{
    if (!copy.remote)
        countAddress(this->record(copy).mapAddr, -1);
    copy.remote = true;
    copy.lastHeard = heardAt;
    groups_[copy.group]->update(copy.slot, record);
}

void CopyTable::makeLocal(KeptCopy& copy)
{
    if (copy.remote)
        countAddress(record(copy).mapAddr, +1);
    copy.remote = false;
}

void CopyTable::release(const KeptCopy& copy)
{
    if (!copy.remote)
        countAddress(record(copy).mapAddr, -1);
    groups_[copy.group]->release(copy.slot);
    groupsWithRoom_.insert(copy.group);
}

KeptCopy* CopyTable::place(const HostRecord& record, std::int64_t now)
{
    if (groupsWithRoom_.empty()) {
        groupsWithRoom_.insert(static_cast<std::uint32_t>(groups_.size()));
        groups_.push_back(std::make_unique<ListGroup>());
    }
    const std::uint32_t group = *groupsWithRoom_.begin();
    const std::uint16_t slot = *groups_[group]->take(record);
    if (!groups_[group]->hasRoom())
        groupsWithRoom_.erase(group);
    KeptCopy& copy = copies_[record.identity];
    copy = KeptCopy{group, slot, now, KeptCopy::kNever, 0};
    return &copy;
}

bool CopyTable::refresh(KeptCopy& copy, const HostRecord& record, std::int64_t now)
{
    copy.lastHeard = now;
    if (this->record(copy) == record)
        return false;
    groups_[copy.group]->update(copy.slot, record);
    return true;
}

bool CopyTable::move(KeptCopy& copy, const HostRecord& record, std::int64_t now)
{
    const Ipv4 from = this->record(copy).mapAddr;
    if ((copy.remote || from != record.mapAddr) && copiesAt(record.mapAddr) >= perAddress_)
        return false;
    if (!copy.remote)
        countAddress(from, -1);
    copy.remote = false;
    countAddress(record.mapAddr, +1);
    copy.lastHeard = now;
    groups_[copy.group]->update(copy.slot, record);
    return true;
}

std::vector<HostRecord> CopyTable::forgetSilent(std::int64_t now)
{
    std::vector<HostRecord> forgotten;
    for (auto it = copies_.begin(); it != copies_.end();) {
        const KeptCopy& copy = it->second;
        if (copy.remote || now - copy.lastHeard < forgetAfter_) {
            ++it;
            continue;
        }
        forgotten.push_back(record(copy));
        release(copy);
        it = copies_.erase(it);
    }
    return forgotten;
}

} // namespace vandry
