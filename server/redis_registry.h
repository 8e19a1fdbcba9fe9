#pragma once
// The shared registry in Redis (hiredis), for `vandry-server --registry redis://HOST:PORT`.
//
// Every copy is one key, "vandry:copy:" followed by its identity in 32 lower-case hexadecimal
// digits, holding the 68-byte entry of copy_registry.h and set to expire after the forget time,
// so that Redis, not the servers, drops a copy nobody has heard for that long.
//
// A worker thread owns the connection: it writes the published entries, pipelined, a few times a
// second, and every `snapshotEveryMs` reads all keys (SCAN and MGET, at most `maxEntries`) and hands
// the entries to `onSnapshot` on the thread that built this object. When Redis cannot be reached
// the server goes on with what it has and the worker tries again; publications made meanwhile are
// kept (one per copy, the latest).

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/identity.h"
#include "server/core/copy_registry.h"

struct redisContext;

namespace vandry {

struct RedisAddress {
    std::string host;
    int port = 6379;
};

// "redis://HOST:PORT" (port optional); nullopt for anything else.
std::optional<RedisAddress> parseRedisUrl(const std::string& url);

class RedisRegistry final : public CopyRegistry {
public:
    using Snapshot = std::vector<RegistryEntry>;
    struct Settings {
        RedisAddress address;
        std::int64_t expirySeconds = 45;
        int snapshotEveryMs = 2000;
        std::size_t maxEntries = 200'000;
    };

    RedisRegistry(Settings settings, std::function<void(const std::string&)> log,
                  std::function<void(const Snapshot&)> onSnapshot);
    ~RedisRegistry() override;
    RedisRegistry(const RedisRegistry&) = delete;
    RedisRegistry& operator=(const RedisRegistry&) = delete;

    void publish(const RegistryEntry& entry) override;

private:
    void run();
    bool connect();
    bool writePending();
    bool readAll(Snapshot& out);
    void dropConnection(const char* what);

    const Settings settings_;
    std::function<void(const std::string&)> log_;
    std::function<void(const Snapshot&)> onSnapshot_;
    QObject owner_; // lives on the building thread: snapshots are delivered through it

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::map<HostIdentity, RegistryEntry> pending_;

    redisContext* context_ = nullptr; // the worker's only
    bool failureLogged_ = false;
    std::thread worker_;
};

} // namespace vandry
