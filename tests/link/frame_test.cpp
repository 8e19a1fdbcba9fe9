#include <gtest/gtest.h>

#include "link/frame.h"

using namespace vandry;

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(FrameHeader, GoldenBytesAndRoundTrip)
{
    const FrameHeader header{0x1010, 'E', 1, 0xBEEF, 0, 4, 0x01020304};
    Bytes bytes;
    ByteWriter out(bytes);
    encodeFrameHeader(header, out);
    const Bytes golden{0x10, 0x10, 'E', 1, 0xEF, 0xBE, 0, 4, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(bytes, golden);
    EXPECT_EQ(parseFrameHeader(bytes), header);
    EXPECT_FALSE(parseFrameHeader(ByteSpan(bytes).first(11)));

    Bytes stored(12, 0xFF);
    ASSERT_TRUE(storeFrameHeader(stored, header));
    EXPECT_EQ(stored, golden);
}

TEST(FrameHeader, FrameStartLeavesCountAndBlockAlone)
{
    Bytes bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 4, 9, 8, 7, 6, 0x55};
    ASSERT_TRUE(storeFrameStart(bytes, 13, 'E', 1));
    EXPECT_EQ(bytes, (Bytes{13, 0, 'E', 1, 0, 0, 0, 4, 9, 8, 7, 6, 0x55}));
    Bytes tooShort(11, 0xFF);
    EXPECT_FALSE(storeFrameStart(tooShort, 12, 'A', 5));
    EXPECT_FALSE(storeFrameHeader(tooShort, FrameHeader{}));
    EXPECT_EQ(tooShort, Bytes(11, 0xFF));
}

TEST(FramePayload, SizeTable)
{
    struct Case {
        char type;
        std::uint8_t sub;
        std::size_t largestAllowed; // one more is refused
        std::size_t refusedBelow;   // exact sizes: one less is refused too
    };
    const Case cases[] = {
        {'A', 0, 92, 91},   {'A', 5, 0, 0},     {'B', 0, 584, 583}, {'B', 1, 584, 583}, {'B', 3, 1024, 0},
        {'C', 5, 65523, 0}, {'D', 0, 512, 0},   {'D', 1, 512, 0},   {'E', 0, 512, 0},   {'E', 1, 64512, 0},
        {'I', 0, 92, 0},    {'A', 3, 65523, 0}, {'B', 2, 65523, 0}, {'E', 7, 65523, 0},
    };
    for (const auto& c : cases) {
        const auto type = static_cast<std::uint8_t>(c.type);
        EXPECT_TRUE(payloadAllowed(type, c.sub, c.largestAllowed)) << c.type << int(c.sub);
        EXPECT_FALSE(payloadAllowed(type, c.sub, c.largestAllowed + 1)) << c.type << int(c.sub);
        if (c.refusedBelow > 0) {
            EXPECT_FALSE(payloadAllowed(type, c.sub, c.refusedBelow)) << c.type << int(c.sub);
        }
    }
    EXPECT_TRUE(payloadAllowed('I', 0, 40));
    EXPECT_FALSE(payloadAllowed('D', 0, 6)); // block maps are whole 4-byte boundaries
    for (int type : {int('@'), int('F'), int('G'), int('H'), int('J'), 0, 255})
        EXPECT_FALSE(payloadRule(static_cast<std::uint8_t>(type), 0)) << type;
}

} // namespace
