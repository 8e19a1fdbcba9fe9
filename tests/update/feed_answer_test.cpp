#include <gtest/gtest.h>

#include "update/feed_answer.h"

using namespace vandry;

namespace {

std::string toHex(std::string_view text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text)
        out += {kDigits[c >> 4], kDigits[c & 0xF]};
    return out;
}

std::string rss(std::string_view description)
{
    return "<?xml?><rss><title>test</title><description>" + std::string(description) + "</description></rss>";
}

const std::string kPlain = "<?xml version=\"1.0\"?><root><Ver>0.9.1.2</Ver><UpURL>http://page</UpURL>"
                           "<UpFile>http://file.exe</UpFile><Counter>17</Counter><Link>1.2.3.4:3333</Link>"
                           "<Refer>http://refer</Refer><Touch>http://touch</Touch><F>1</F></root>";

} // namespace

TEST(FeedAnswer, PlainAndRssFormsGiveTheSameElements)
{
    const FeedAnswer expected{"0.9.1.2",      "http://page",  "http://file.exe", "17",
                              "1.2.3.4:3333", "http://refer", "http://touch",    "1"};
    EXPECT_EQ(parseFeedAnswer(kPlain), expected);
    EXPECT_EQ(parseFeedAnswer(rss("<![CDATA[\r\n  " + toHex(kPlain) + "\n ]]>")), expected);
    // A description before the title is not the one read.
    EXPECT_EQ(parseFeedAnswer("<?><description>3C3F</description>" + rss(toHex(kPlain)).substr(3)), expected);
}

TEST(FeedAnswer, MalformedAnswersCarryNothingOrWhatIsWellFormed)
{
    EXPECT_EQ(parseFeedAnswer(kPlain.substr(1)), FeedAnswer{}); // no "<?"
    EXPECT_EQ(parseFeedAnswer(rss(toHex(kPlain.substr(2)))), FeedAnswer{});
    // The test title at position 0 does not count: the text is read as it stands.
    const std::string titleFirst = "<title>test</title><description>" + toHex(kPlain) + "</description>";
    EXPECT_EQ(unwrapFeedAnswer(titleFirst), titleFirst);
    // An odd digit is dropped; a non-digit pair or a zero byte ends the payload.
    EXPECT_EQ(unwrapFeedAnswer(rss(toHex("<?ab") + "4")), "<?ab");
    EXPECT_EQ(unwrapFeedAnswer(rss(toHex("<?ab") + "zz" + toHex("cd"))), "<?ab");
    EXPECT_EQ(unwrapFeedAnswer(rss(toHex("<?ab") + "00" + toHex("cd"))), "<?ab");
    const std::string big = "<?" + std::string(3000, 'x');
    EXPECT_EQ(unwrapFeedAnswer(rss(toHex(big))), big.substr(0, kMaxFeedPayloadBytes));
    // A CDATA section without its end still loses its opening marker; an unclosed description
    // leaves nothing.
    EXPECT_EQ(unwrapFeedAnswer(rss("<![CDATA[" + toHex("<?x"))), "<?x");
    EXPECT_EQ(unwrapFeedAnswer("<?xml?><title>test</title><description>" + toHex("<?x")), "");
}

TEST(FeedAnswer, ElementsAreReadBetweenTheFirstOpeningAndTheNextClosingTag)
{
    EXPECT_EQ(elementText("<Ver>1.2.3.4</Ver>", "Ver"), "");
    EXPECT_EQ(elementText(" <Ver>1.2.3.4</Ver>", "Ver"), "1.2.3.4");
    EXPECT_EQ(elementText("<?><Link><Link>a</Link></Link>", "Link"), "<Link>a");
    EXPECT_EQ(elementText("<?><Ver>1.2.3.4", "Ver"), "");
    EXPECT_EQ(elementText("<?></Ver><Ver>x</Ver>", "Ver"), "x");
    EXPECT_EQ(elementText("<?><Vers>1</Vers><ver>2</ver>", "Ver"), "");
}

TEST(FeedAnswer, VersionAndFlagNumbers)
{
    EXPECT_EQ(parseVersion("0.9.0.1"), 0x00090001u);
    EXPECT_EQ(parseVersion("1.2.3.300"), 0x0102032Cu);
    EXPECT_EQ(parseVersion("1.2.3.99999999999999999999"), 0x010203FFu); // 10^20 - 1 is 255 modulo 256
    for (const char* malformed : {"", "1.2.3", "1.2.3.4.5", "1..3.4", "a.b.c.d", " 1.2.3.4", "1.2.3.-4"})
        EXPECT_EQ(parseVersion(malformed), 0u) << malformed;
    for (const char* on : {"1", " -2", "0010", "12abc"})
        EXPECT_TRUE(parseAutomaticFlag(on)) << on;
    for (const char* off : {"", "0", "x1", "0x1"})
        EXPECT_FALSE(parseAutomaticFlag(off)) << off;
}

TEST(FeedAnswer, ServerLinkGivesAtMostEightItemsUpToTheFirstEmptyOne)
{
    EXPECT_EQ(parseServerLink("a:1,,b:2"), (std::vector<ServerLinkItem>{{"a", 1}}));
    EXPECT_TRUE(parseServerLink(",a:1").empty());
    EXPECT_EQ(parseServerLink("h,h:65535,h:65536,h:80x"),
              (std::vector<ServerLinkItem>{{"h", 0}, {"h", 65535}, {"h", 0}, {"h", 80}}));
    std::string ten;
    for (int i = 0; i < 10; ++i)
        ten += "10.0.0." + std::to_string(i) + ":" + std::to_string(1000 + i) + ",";
    const auto items = parseServerLink(ten);
    ASSERT_EQ(items.size(), kMaxServerLinkItems);
    EXPECT_EQ(items[7], (ServerLinkItem{"10.0.0.7", 1007}));
}
