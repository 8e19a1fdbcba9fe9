#pragma once
// The texts of the update feed: the request bodies we POST and the answers we read.
//
// An answer comes in one of two forms:
//   RSS   "<title>test</title>" somewhere after the first character, then a "<description>"
//         element whose text (CDATA markers removed, white space trimmed) is hexadecimal digits,
//         two per byte; the decoded bytes (at most 2047, up to a zero byte) replace the answer.
//   plain a text beginning with "<?" holding the elements Ver, UpURL, UpFile, Counter, Link,
//         Refer, Touch and F, each read as the text between "<Name>" and the next "</Name>".
// A text that does not begin with "<?" (after unwrapping) carries nothing; every element reads
// empty. Answers come from the network: nothing here trusts their sizes or their shape.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandry {

inline constexpr std::size_t kMaxFeedPayloadBytes = 2047;
inline constexpr std::size_t kMaxServerLinkItems = 8;

struct FeedAnswer {
    std::string version;   // "Ver": four dot-separated decimal numbers
    std::string pageUrl;   // "UpURL": a page about the new version
    std::string fileUrl;   // "UpFile": the new executable
    std::string counter;   // "Counter": read, not used
    std::string link;      // "Link": the rendezvous servers
    std::string refer;     // "Refer": a fallback feed
    std::string touch;     // "Touch": where the one-off usage report goes
    std::string automatic; // "F": decimal, non-zero starts the upgrade without asking
    bool operator==(const FeedAnswer&) const = default;
};

FeedAnswer parseFeedAnswer(std::string_view answer);

// The text the elements are read from: the decoded payload of an RSS answer, else the answer.
// An RSS answer without a complete description element carries nothing (empty text).
std::string unwrapFeedAnswer(std::string_view answer);

// The text between "<name>" and the next "</name>"; empty when either is missing, and when
// the opening tag starts the text (position 0 counts as not found, as in the feed's producer).
std::string_view elementText(std::string_view text, std::string_view name);

// "a.b.c.d" packed as a<<24 | b<<16 | c<<8 | d, each number reduced to 8 bits; 0 when the text
// is not exactly four dot-separated decimal numbers.
std::uint32_t parseVersion(std::string_view text);

// Whether "F" holds a non-zero decimal number (leading white space and a sign allowed).
bool parseAutomaticFlag(std::string_view text);

struct ServerLinkItem {
    std::string address; // the text before ":" (dotted, not checked here)
    std::uint16_t port = 0;
    bool operator==(const ServerLinkItem&) const = default;
};

// "addr:port,addr:port,...": at most 8 items, stopping at the first empty one. The port is the
// leading decimal digits after ":", 0 when there are none or they exceed 65535.
std::vector<ServerLinkItem> parseServerLink(std::string_view link);

// The bodies as sent: "<root><clnt>ID</clnt><code>CheckUpdates|CheckUpdate</code></root>"
// ("CheckUpdates" only for flags 1) and "<root><clnt>ID</clnt><code>Touch</code></root>".
std::string checkRequestBody(std::string_view identityText, std::uint32_t flags);
std::string touchRequestBody(std::string_view identityText);

} // namespace vandry
