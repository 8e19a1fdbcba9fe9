#pragma once
// A network in one process: sockets addressed by Endpoint, datagrams queued and delivered on
// run(), and address translators that rewrite a private sender to a public endpoint and let in
// only answers from addresses the private side has sent to (a restricted-cone translator).

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "common/clock.h"
#include "common/socket.h"

namespace vandry::testing {

class SimulatedNetwork;

class SimulatedSocket final : public DatagramSocket {
public:
    SimulatedSocket(SimulatedNetwork& network, Ipv4 address) : network_(network), address_(address) {}
    ~SimulatedSocket() override;

    bool bind(std::uint16_t port) override;
    std::uint16_t localPort() const override { return port_; }
    bool sendTo(ByteSpan datagram, Endpoint destination) override;
    bool sendToWithHopLimit(ByteSpan datagram, Endpoint destination, int hops) override;
    void setReceiveBufferSize(int) override {}
    void setMulticastTtl(int) override {}
    bool joinMulticastGroup(Ipv4) override { return false; } // as on a host that refuses multicast
    void setReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }

    Endpoint endpoint() const { return {address_, port_}; }
    void receive(ByteSpan datagram, Endpoint source)
    {
        if (handler_)
            handler_(datagram, source);
    }

private:
    SimulatedNetwork& network_;
    Ipv4 address_;
    std::uint16_t port_ = 0;
    ReceiveHandler handler_;
};

class SimulatedNetwork {
public:
    // Hosts whose address is `privateAddress` reach the world as `publicAddress`.
    void addTranslator(Ipv4 privateAddress, Ipv4 publicAddress);

    // A Linux translator (masquerading, only answers let in): a flow leaves from the inside port
    // unless another flow to the same remote endpoint holds it, and every datagram addressed to
    // the translator itself leaves an entry too. Entries are forgotten 30 s after the last
    // datagram (120 s once answered). A datagram of hop limit 1 refreshes its flow and dies there.
    void addLinuxTranslator(Ipv4 privateAddress, Ipv4 publicAddress, const Clock& clock);

    void attach(SimulatedSocket& socket);
    void detach(SimulatedSocket& socket);
    void send(Endpoint from, ByteSpan datagram, Endpoint to, int hops = 0);
    // Delivers queued datagrams (and those sent meanwhile) until none is left; returns how many.
    int run(int limit = 10000);
    int dropped() const { return dropped_; }

private:
    struct Translator {
        Ipv4 publicAddress = 0;
        std::map<Endpoint, std::uint16_t, bool (*)(const Endpoint&, const Endpoint&)> outbound{lessEndpoint};
        std::map<std::uint16_t, Endpoint> inbound;
        std::set<std::pair<std::uint16_t, Ipv4>> permitted; // public port, remote address
        std::uint16_t nextPort = 40000;
    };
    struct Flow {
        Endpoint inside{}; // none for an entry of a datagram to the translator itself
        std::uint16_t publicPort = 0;
        Endpoint remote{};
        bool answered = false;
        std::uint32_t lastMs = 0;
    };
    struct LinuxTranslator {
        Ipv4 publicAddress = 0;
        const Clock* clock = nullptr;
        std::vector<Flow> flows;
        std::uint16_t nextPort = 30000;
        void forgetExpired();
    };
    std::optional<Endpoint> linuxOutbound(LinuxTranslator& nat, Endpoint from, Endpoint to, int hops);
    std::optional<Endpoint> linuxInbound(LinuxTranslator& nat, Endpoint destination, Endpoint from);

    struct InFlight {
        std::vector<std::uint8_t> bytes;
        Endpoint source;
        Endpoint destination;
    };
    static bool lessEndpoint(const Endpoint& a, const Endpoint& b)
    {
        return a.address != b.address ? a.address < b.address : a.port < b.port;
    }
    std::optional<Endpoint> translateInbound(Endpoint destination, Ipv4 from);

    std::map<Ipv4, Translator> translatorsByPrivate_;
    std::map<Ipv4, Ipv4> privateByPublic_;
    std::map<Ipv4, LinuxTranslator> linuxByPrivate_;
    std::map<Ipv4, Ipv4> linuxPrivateByPublic_;
    std::map<Endpoint, SimulatedSocket*, bool (*)(const Endpoint&, const Endpoint&)> sockets_{lessEndpoint};
    std::deque<InFlight> queue_;
    int dropped_ = 0;
};

} // namespace vandry::testing
