#pragma once
// The update feed as copies read it. A copy POSTs " <root><clnt>ID</clnt><code>CODE</code></root>"
// (its leading blank dropped on the way) and reads the answer only if it begins with "<?"; it then
// takes each element as the text between the first "<Name>" and the next "</Name>", with no
// unescaping, so a value must hold no '<' or '>'. Link lists the rendezvous servers as
// "ADDR:PORT,ADDR:PORT" (a copy uses the first eight).

#include <string>
#include <string_view>
#include <vector>

#include "common/ipv4.h"

namespace vandry {

struct FeedSettings {
    std::string version = "0.9.0.0"; // Ver
    std::string upgradePage;         // UpURL
    std::string upgradeFile;         // UpFile: a copy offers the upgrade only when it begins with "h"
    bool forceUpgrade = false;       // F
    std::vector<Endpoint> servers;   // Link
    std::string referFeed;           // Refer: the feed a copy falls back to when Link is empty
    std::string touchAddress;        // Touch: where a copy reports its identity once
};

// Whether `value` can stand inside an element without ending it early.
bool isFeedValue(std::string_view value);
std::string serverListText(const std::vector<Endpoint>& servers);
std::string buildFeedAnswer(const FeedSettings& settings);

struct FeedRequest {
    std::string client; // the copy's identity text
    std::string code;   // "CheckUpdate", "CheckUpdates" or "Touch"
};

// Missing elements read as empty. A body sent percent-encoded (no '<' in it) is decoded first.
FeedRequest parseFeedRequest(std::string_view body);

} // namespace vandry
