#include <gtest/gtest.h>

#include "common/hex.h"
#include "common/identity.h"
#include "common/natural_order.h"
#include "common/text.h"

using namespace vandry;

TEST(HexCodec, EncodesLowerCaseAndDecodesEitherCase)
{
    const std::uint8_t bytes[] = {0x00, 0xAB, 0x7F};
    EXPECT_EQ(hexEncode(bytes), "00ab7f");
    auto decoded = hexDecode("00AB7fzz", 3);
    ASSERT_TRUE(decoded);
    EXPECT_EQ((*decoded)[1], 0xAB);
    EXPECT_FALSE(hexDecode("0g", 1));
    EXPECT_FALSE(hexDecode("abc", 2));
}

TEST(HexCodec, EncodesAtMost1023Bytes)
{
    std::vector<std::uint8_t> big(2000, 0x11);
    EXPECT_EQ(hexEncode(big).size(), 2046u);
}

TEST(IdentityText, FormatsLittleEndianGroupsThenBytes)
{
    HostIdentity id{0x00, 0x00, 0x09, 0x00, 0x01, 0x51, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(identityText(id), "00090000-5101-0000-DEAD-BEEF01020304");
    EXPECT_EQ(identityHex(id), "0000090001510000deadbeef01020304");
    EXPECT_EQ(identityFromHex(identityHex(id)), id);
}

TEST(EscapeControlCharacters, KeepsTextAndUtf8AndEscapesControls)
{
    EXPECT_EQ(escapeControlCharacters("网名 ok"), "网名 ok");
    EXPECT_EQ(escapeControlCharacters("a\r\nb\x1b[2J\x7f"), "a\\x0D\\x0Ab\\x1B[2J\\x7F");
    EXPECT_EQ(escapeControlCharacters("\xc2\x9b"
                                      "1m\xc2\xa0"),
              "\\u009B1m\xc2\xa0"); // C1 CSI; a no-break space stays
}

TEST(Utf8Prefix, NeverSplitsACharacter)
{
    const std::string chinese = "网名网名网名"; // 3 bytes per character
    EXPECT_EQ(utf8Prefix(chinese, 15), "网名网名网");
    EXPECT_EQ(utf8Prefix(chinese, 14), "网名网名");
    EXPECT_EQ(utf8Prefix(chinese, 13), "网名网名");
    EXPECT_EQ(utf8Prefix("abcdefghijklmnopqrst", 15), "abcdefghijklmno");
    EXPECT_EQ(utf8Prefix("short", 15), "short");
}

TEST(FixedField, KeepsAZeroAndReadsUpToIt)
{
    std::array<std::uint8_t, 16> field;
    field.fill(0xEE);
    storeFixedFieldText(field, "a nickname of 20 ch");
    EXPECT_EQ(field[15], 0);
    EXPECT_EQ(fixedFieldText(field), "a nickname of 2");
    const std::uint8_t noZero[] = {'a', 'b', 'c'};
    EXPECT_EQ(fixedFieldText(noZero), "abc");
}

TEST(CaseInsensitive, FoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(equalsIgnoreAsciiCase("-U", "-u"));
    EXPECT_FALSE(equalsIgnoreAsciiCase("-u", "-r"));
    EXPECT_FALSE(equalsIgnoreAsciiCase("ab", "abc"));
}

TEST(IdentityText, ReadsItsOwnTextFormBack)
{
    HostIdentity id{};
    for (int i = 0; i < 16; ++i)
        id[i] = static_cast<std::uint8_t>(i * 17 + 3);
    EXPECT_EQ(identityFromText(identityText(id)), id);
    EXPECT_FALSE(identityFromText("00090000-5101-0000-DEAD-BEEF0102030"));  // short
    EXPECT_FALSE(identityFromText("00090000-5101-0000-DEAD+BEEF01020304")); // wrong separator
    EXPECT_FALSE(identityFromText("0009000G-5101-0000-DEAD-BEEF01020304")); // not hex
}

TEST(ValidUtf8, KeepsWellFormedTextAndReplacesEveryBadByte)
{
    EXPECT_EQ(validUtf8("音乐 music 🎵"), "音乐 music 🎵");
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(validUtf8("a\xFF"
                        "b"),
              "a" + replacement + "b");
    // A character cut at the end, an overlong slash, a surrogate and a code point above U+10FFFF.
    EXPECT_EQ(validUtf8("x\xE9\x9F"), "x" + replacement + replacement);
    EXPECT_EQ(validUtf8("\xC0\xAF"), replacement + replacement);
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), replacement + replacement + replacement);
    EXPECT_EQ(validUtf8("\xF4\x90\x80\x80").size(), 4 * replacement.size());
}

TEST(NaturalOrder, NumbersByValueLettersWithoutCase)
{
    const auto before = [](std::string_view a, std::string_view b) { return naturalCompare(a, b) < 0; };
    EXPECT_TRUE(before("track 2.mp3", "track 10.mp3"));
    EXPECT_TRUE(before("Track 2", "track 3"));
    EXPECT_TRUE(before("a", "B"));
    EXPECT_TRUE(before("img007", "img10"));
    EXPECT_TRUE(before("file", "file1"));
    EXPECT_TRUE(before("99999999999999999999998", "99999999999999999999999")); // beyond 64 bits
    EXPECT_TRUE(before("z", "音乐"));
    EXPECT_EQ(naturalCompare("x01", "x1"), 0);
    EXPECT_EQ(naturalCompare("Abc", "aBC"), 0);
}
