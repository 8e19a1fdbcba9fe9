#pragma once
// Running totals of what the rendezvous server did, for its periodic stats line.

#include <array>
#include <cstdint>
#include <string>

namespace vandry {

// Why an announce or relayed packet was turned away. The numbers are the sub-type of the refusal
// datagram (type 148, header only), which copies ignore like every type they do not know.
enum class Refusal : std::uint8_t {
    RateLimited = 1,   // the source address is over one of its limits
    TableFull = 2,     // no room for another copy
    AddressFull = 3,   // the source address already holds its share of copies
    IdentityInUse = 4, // the identity is live at another endpoint
    ChecksBusy = 5,    // too many return-routability checks are outstanding
};
inline constexpr std::size_t kRefusalKinds = 6;

struct RendezvousStats {
    std::uint64_t announces = 0;
    std::uint64_t checksSent = 0;
    std::uint64_t checksPassed = 0;
    std::uint64_t newCopies = 0;
    std::uint64_t movedCopies = 0;
    std::uint64_t fullLists = 0;
    std::uint64_t updateLists = 0;
    std::uint64_t listDatagrams = 0;
    std::uint64_t listBytes = 0;
    std::uint64_t pushDatagrams = 0;
    std::uint64_t pushesSkipped = 0; // newcomers not pushed because the push budget was spent
    std::uint64_t relayed = 0;
    std::uint64_t relayedBytes = 0;
    std::uint64_t relayOverBudget = 0; // envelopes dropped for a copy's relay budget or the server's cap
    std::array<std::uint64_t, kRefusalKinds> refusals{};

    std::uint64_t refusalTotal() const;
};

// One line: "N copies; per second: A announces, ..." for the totals accumulated over `seconds`.
std::string statsLine(std::size_t copies, const RendezvousStats& now, const RendezvousStats& before, double seconds);

} // namespace vandry
