// Parses arbitrary bytes as a release signature file and checks them against a trusted key.
#include <cstdlib>

#include "update/release_check.h"
#include "update/trusted_release_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vandry;
    const ByteSpan bytes(data, size);
    const auto record = parseReleaseSignature(bytes);
    if (record.has_value() != (size == kReleaseSignatureBytes &&
                               std::equal(kReleaseSignatureMagic.begin(), kReleaseSignatureMagic.end(), data)))
        std::abort();
    if (record && encodeReleaseSignature(*record) != std::vector<std::uint8_t>(data, data + size))
        std::abort();
    const Ed25519PublicKey trusted[] = {projectReleaseKey()};
    if (checkReleaseSignature(bytes, trusted).refusal == UpgradeRefusal::None)
        std::abort(); // nobody can forge the project key's signature
    return 0;
}
