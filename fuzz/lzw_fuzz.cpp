// Decodes arbitrary bytes as an LZW stream, and checks that encoding the input decodes back to it.
#include <cstdlib>

#include "discovery/lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vandry;
    const ByteSpan input(data, size);
    constexpr std::size_t kCapacity = 65535;

    const auto decoded = lzwDecode(input, kCapacity);
    if (decoded.bytes.size() > kCapacity || (decoded.status != LzwStatus::Ok && !decoded.bytes.empty()))
        std::abort();

    const auto encoded = lzwEncode(input);
    const auto roundTrip = lzwDecode(encoded, size);
    if (roundTrip.status != LzwStatus::Ok ||
        !std::equal(roundTrip.bytes.begin(), roundTrip.bytes.end(), data, data + size))
        std::abort();
    return 0;
}
