#pragma once
// A MainWindowHost that records what the window model asks of the rest of the copy, with stream
// entries, link states and sources the test sets up.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/file_info_source.h"
#include "ui/main_window_model.h"

namespace vandry::testing {

// Knows nothing about any file: the hash table answers only from what was stored.
struct NoFileInfo final : FileInfoSource {
    std::optional<FileInfoBlock> fileInfo(const std::string&, bool) override { return std::nullopt; }
};

struct SentListing {
    HostIdentity target{};
    std::string path;
    std::int32_t row = 0;
};

struct SentSourceLookup {
    HostIdentity target{};
    SourceInfo key;
};

struct RetriedLink {
    std::uint8_t linkIndex = 0;
    HostIdentity task{};
    SourceInfo key;
};

struct FakeWindowHost final : MainWindowHost {
    // Posted work runs at once unless a test wants to run it by hand.
    bool runPostedAtOnce = true;

    void announce(std::uint8_t form) override { announces.push_back(form); }
    void runExtraUpdateCheck() override { ++extraChecks; }
    void postToMainThread(std::function<void()> work) override
    {
        if (runPostedAtOnce)
            work();
        else
            posted.push_back(std::move(work));
    }
    void openWithDesktop(const std::string& path) override { opened.push_back(path); }
    void trimMemory() override { ++trims; }
    std::vector<LinkSlotView> linkSlots() const override { return std::vector<LinkSlotView>(128); }
    int countTaskLinks(const HostIdentity& task) const override
    {
        const auto it = taskLinks.find(identityText(task));
        return it == taskLinks.end() ? 0 : it->second;
    }
    std::vector<TransferProgress> transferProgress() override { return {}; }
    std::vector<ReceivingLink> receivingLinks() const override { return receiving; }
    void closeLink(std::uint8_t slot) override { closedLinks.push_back(slot); }
    std::vector<std::uint8_t> closedLinks;
    std::vector<UploadView> uploads() const override { return uploadList; }
    std::vector<ReceivingLink> receiving;
    std::vector<UploadView> uploadList;
    void sweepIdleLinks() override { ++sweeps; }
    void sendListingRequest(const NeighbourRecord& target, const std::string& path, std::int32_t row) override
    {
        listings.push_back({target.host.identity, path, row});
    }
    void searchAll(const std::string& text, std::uint8_t flags) override { searches.emplace_back(text, flags); }
    void rebuildShareIndex() override { ++indexRebuilds; }

    void openLink(const LinkRequest& request) override { links.push_back(request); }
    std::optional<StreamView> streamOwnedBy(const HostIdentity& task) const override
    {
        for (const StreamView& stream : streams)
            if (owners.count(stream.slot.index) && owners.at(stream.slot.index) == task)
                return stream;
        return std::nullopt;
    }
    std::optional<StreamView> streamWithDigest(const std::string& digestHex) const override
    {
        for (const StreamView& stream : streams)
            if (stream.digestHex == digestHex)
                return stream;
        return std::nullopt;
    }
    std::vector<HostIdentity> receivingPeers(StreamSlot) const override { return busyPeers; }
    bool hasDuplicateSourceLink(const FileDigest&, const HostIdentity& peer) const override
    {
        return duplicateSource && *duplicateSource == peer;
    }
    bool linkUsedDatagram(std::uint8_t linkIndex) const override { return datagramLinks.count(linkIndex) != 0; }
    void retryOverDatagram(std::uint8_t linkIndex, const HostIdentity& task, const SourceInfo& key) override
    {
        retries.push_back({linkIndex, task, key});
    }
    void stopTaskLinks(const HostIdentity& task, bool force, std::optional<StreamSlot> entry) override
    {
        stopped.push_back({task, force, entry});
    }
    void sendSourceLookup(const NeighbourRecord& target, const SourceInfo& key) override
    {
        lookups.push_back({target.host.identity, key});
    }

    void runPosted()
    {
        auto work = std::move(posted);
        posted.clear();
        for (auto& w : work)
            w();
    }

    struct StoppedTask {
        HostIdentity task{};
        bool force = false;
        std::optional<StreamSlot> entry;
    };

    std::vector<std::uint8_t> announces;
    std::vector<std::function<void()>> posted;
    std::vector<std::string> opened;
    int extraChecks = 0;
    int trims = 0;
    int sweeps = 0;
    int indexRebuilds = 0;
    std::vector<LinkRequest> links;
    std::vector<SentListing> listings;
    std::vector<std::pair<std::string, std::uint8_t>> searches;
    std::vector<SentSourceLookup> lookups;
    std::vector<RetriedLink> retries;
    std::vector<StoppedTask> stopped;
    std::map<std::string, int> taskLinks;
    std::vector<StreamView> streams;
    std::map<std::uint8_t, HostIdentity> owners;
    std::vector<HostIdentity> busyPeers;
    std::optional<HostIdentity> duplicateSource;
    std::map<std::uint8_t, bool> datagramLinks;
};

} // namespace vandry::testing
