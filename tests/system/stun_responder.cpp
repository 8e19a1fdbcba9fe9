// A minimal STUN binding responder for the namespace tests: miniupnpd on a home router whose WAN
// address is not public asks it for the address the outside sees, and maps ports only once that
// answer shows an unfiltered path. Every binding request gets MAPPED-ADDRESS and
// XOR-MAPPED-ADDRESS of its source, from the address it came to (change requests are ignored,
// which such a router takes as "no filtering").
// Usage: stun_responder ADDRESS PORT

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr std::size_t kHeader = 20;

void put16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void put32(std::uint8_t* at, std::uint32_t value)
{
    put16(at, static_cast<std::uint16_t>(value >> 16));
    put16(at + 2, static_cast<std::uint16_t>(value));
}

// One 12-byte address attribute of `type` at `at`.
void putAddress(std::uint8_t* at, std::uint16_t type, std::uint16_t port, std::uint32_t address)
{
    put16(at, type);
    put16(at + 2, 8);
    at[4] = 0;
    at[5] = 1; // IPv4
    put16(at + 6, port);
    put32(at + 8, address);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ADDRESS PORT\n", argv[0]);
        return 2;
    }
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &bound.sin_addr) != 1) {
        std::fprintf(stderr, "stun_responder: bad address %s\n", argv[1]);
        return 2;
    }
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0) {
        std::perror("stun_responder: bind");
        return 1;
    }
    std::array<std::uint8_t, 1500> in{};
    for (;;) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n = recvfrom(s, in.data(), in.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        // A binding request: type 0x0001, at least the 20-byte header.
        if (n < static_cast<ssize_t>(kHeader) || in[0] != 0x00 || in[1] != 0x01)
            continue;
        std::array<std::uint8_t, kHeader + 24> out{};
        put16(out.data(), 0x0101); // binding success response
        put16(out.data() + 2, 24);
        for (std::size_t i = 4; i < kHeader; ++i)
            out[i] = in[i]; // the cookie (or an old-style id) and the transaction id
        const std::uint16_t port = ntohs(from.sin_port);
        const std::uint32_t address = ntohl(from.sin_addr.s_addr);
        putAddress(out.data() + kHeader, 0x0001, port, address);
        // XORed with the request's bytes 4-7: the magic cookie of RFC 5389 clients.
        const std::uint32_t cookie =
            (std::uint32_t{in[4]} << 24) | (std::uint32_t{in[5]} << 16) | (std::uint32_t{in[6]} << 8) | in[7];
        putAddress(out.data() + kHeader + 12, 0x0020, static_cast<std::uint16_t>(port ^ (cookie >> 16)),
                   address ^ cookie);
        sendto(s, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&from), fromSize);
    }
}
