// Parses arbitrary text as a feed answer and checks the bounds its readers promise.
#include <cstdlib>
#include <string_view>

#include "update/feed_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vandry;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string unwrapped = unwrapFeedAnswer(text);
    if (unwrapped != text && unwrapped.size() > kMaxFeedPayloadBytes)
        std::abort();

    const FeedAnswer answer = parseFeedAnswer(text);
    for (const std::string* element : {&answer.version, &answer.pageUrl, &answer.fileUrl, &answer.counter, &answer.link,
                                       &answer.refer, &answer.touch, &answer.automatic})
        if (element->size() > unwrapped.size())
            std::abort();

    if (parseServerLink(text).size() > kMaxServerLinkItems)
        std::abort();
    parseVersion(text);
    parseAutomaticFlag(text);
    return 0;
}
