#pragma once
// The copies this server has admitted, by identity. Each record is kept with the mapped address and
// port replaced by the endpoint the server verified, in a slot of one list group (list_group.h):
// newcomers fill the first group with room, so up to 2048 copies all list each other and larger
// populations are cut into groups of 2048. Next to the record the table keeps what the server last
// sent the copy: when it was last sent a full list and the group version that list showed.
//
// A group with fewer than 2048 members (the last one, or one with holes) has its list topped up
// with whole chunks of the other groups' lists, so that every copy is listed as many others as its
// table holds; updates between full lists cover its own group only.
//
// A copy not heard for `forgetAfterSeconds` is dropped by forgetSilent() and leaves its slot free.
// The table holds at most `capacity` copies and at most `perAddress` behind one source address, so
// that a few addresses cannot fill it with made-up identities.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "common/identity.h"
#include "common/ipv4.h"
#include "discovery/host_record.h"
#include "server/core/list_group.h"

namespace vandry {

struct KeptCopy {
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::min() / 2;

    std::uint32_t group = 0;
    std::uint16_t slot = 0;
    std::int64_t lastHeard = 0;
    std::int64_t lastFullList = kNever;
    std::uint64_t listedVersion = 0;
    bool remote = false; // registered at another server: listed, never answered or pushed to
};

enum class Admission { Admitted, TableFull, AddressFull };

class CopyTable {
public:
    CopyTable(std::size_t capacity, std::int64_t forgetAfterSeconds, std::size_t perAddress);

    KeptCopy* find(const HostIdentity& identity);
    const KeptCopy* find(const HostIdentity& identity) const;
    std::optional<HostRecord> findLive(const HostIdentity& identity, std::int64_t now) const;
    const HostRecord& record(const KeptCopy& copy) const { return groups_[copy.group]->record(copy.slot); }
    Endpoint endpoint(const KeptCopy& copy) const;
    ListGroup& groupOf(const KeptCopy& copy) { return *groups_[copy.group]; }
    // The datagrams of the full list for a member of `copy`'s group.
    std::vector<const ListGroup::Datagram*> fullList(const KeptCopy& copy);

    // Whether a new copy behind `address` would be taken.
    Admission admissible(Ipv4 address) const;
    // `record` carries the verified endpoint as its mapped address and port; nullptr when refused.
    KeptCopy* admit(const HostRecord& record, std::int64_t now);
    // Heard again from its endpoint; true when the record itself changed.
    bool refresh(KeptCopy& copy, const HostRecord& record, std::int64_t now);
    // Verified at a new endpoint; false when the new address already holds its share of copies.
    bool move(KeptCopy& copy, const HostRecord& record, std::int64_t now);
    // Drops the local copies not heard for the configured time and returns their records.
    std::vector<HostRecord> forgetSilent(std::int64_t now);

    // Copies registered at other servers: taken in beyond the per-address limit (their server
    // applied it), kept up to date, and dropped when the registry no longer holds them.
    KeptCopy* admitRemote(const HostRecord& record, std::int64_t heardAt);
    void updateRemote(KeptCopy& copy, const HostRecord& record, std::int64_t heardAt);
    // A local copy heard from by another server since: it is theirs now.
    void makeRemote(KeptCopy& copy, const HostRecord& record, std::int64_t heardAt);
    void makeLocal(KeptCopy& copy);
    // Drops the remote copies for which `inRegistry` is false.
    template <typename Predicate> std::size_t forgetRemoteUnless(Predicate inRegistry)
    {
        std::size_t forgotten = 0;
        for (auto it = copies_.begin(); it != copies_.end();) {
            if (it->second.remote && !inRegistry(it->first)) {
                release(it->second);
                it = copies_.erase(it);
                ++forgotten;
            } else {
                ++it;
            }
        }
        return forgotten;
    }

    std::size_t size() const { return copies_.size(); }
    bool full() const { return copies_.size() >= capacity_; }
    std::size_t groups() const { return groups_.size(); }
    std::size_t copiesAt(Ipv4 address) const;

private:
    void countAddress(Ipv4 address, int delta);
    KeptCopy* place(const HostRecord& record, std::int64_t now);
    void release(const KeptCopy& copy);

    std::size_t capacity_;
    std::int64_t forgetAfter_;
    std::size_t perAddress_;
    std::map<HostIdentity, KeptCopy> copies_;
    std::vector<std::unique_ptr<ListGroup>> groups_;
    std::set<std::uint32_t> groupsWithRoom_;
    std::map<Ipv4, std::size_t> perAddressCount_;
};

} // namespace vandry
