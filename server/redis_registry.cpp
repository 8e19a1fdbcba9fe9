#include "server/redis_registry.h"

#include <QMetaObject>

#include <hiredis/hiredis.h>

#include <chrono>
#include <memory>

namespace vandry {

namespace {
constexpr char kKeyPrefix[] = "vandry:copy:";
constexpr int kWriteEveryMs = 250;
constexpr int kScanCount = 1000;
constexpr timeval kTimeout{2, 0};

std::string keyOf(const HostIdentity& identity)
{
    return kKeyPrefix + identityHex(identity);
}

struct ReplyDeleter {
    void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using Reply = std::unique_ptr<redisReply, ReplyDeleter>;

Reply command(redisContext* context, const std::vector<std::string>& arguments)
{
    std::vector<const char*> argv;
    std::vector<std::size_t> lengths;
    for (const auto& argument : arguments) {
        argv.push_back(argument.data());
        lengths.push_back(argument.size());
    }
    return Reply(static_cast<redisReply*>(
        redisCommandArgv(context, static_cast<int>(argv.size()), argv.data(), lengths.data())));
}
} // namespace

std::optional<RedisAddress> parseRedisUrl(const std::string& url)
{
    const std::string scheme = "redis://";
    if (url.rfind(scheme, 0) != 0)
        return std::nullopt;
    std::string rest = url.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    RedisAddress address;
    const auto colon = rest.rfind(':');
    address.host = rest.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string port = rest.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        address.port = std::stoi(port);
    }
    if (address.host.empty() || address.host.find_first_of("/@?# ") != std::string::npos || address.port < 1 ||
        address.port > 65535)
        return std::nullopt;
    return address;
}

RedisRegistry::RedisRegistry(Settings settings, std::function<void(const std::string&)> log,
                             std::function<void(const Snapshot&)> onSnapshot)
    : settings_(std::move(settings)), log_(std::move(log)), onSnapshot_(std::move(onSnapshot)),
      worker_([this] { run(); })
{
}

RedisRegistry::~RedisRegistry()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
    if (context_)
        redisFree(context_);
}

void RedisRegistry::publish(const RegistryEntry& entry)
{
    const std::lock_guard lock(mutex_);
    // Bounded like the table it mirrors: one pending entry per copy, the latest.
    if (pending_.size() < settings_.maxEntries || pending_.contains(entry.record.identity))
        pending_[entry.record.identity] = entry;
}

void RedisRegistry::run()
{
    auto nextSnapshot = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(kWriteEveryMs), [this] { return stopping_; });
            if (stopping_)
                return;
        }
        if (!connect())
            continue;
        if (!writePending())
            continue;
        if (std::chrono::steady_clock::now() < nextSnapshot)
            continue;
        nextSnapshot = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.snapshotEveryMs);
        auto snapshot = std::make_shared<Snapshot>();
        if (!readAll(*snapshot))
            continue;
        QMetaObject::invokeMethod(
            &owner_, [this, snapshot] { onSnapshot_(*snapshot); }, Qt::QueuedConnection);
    }
}

bool RedisRegistry::connect()
{
    if (context_)
        return true;
    context_ = redisConnectWithTimeout(settings_.address.host.c_str(), settings_.address.port, kTimeout);
    if (!context_ || context_->err) {
        dropConnection("cannot connect to the registry");
        return false;
    }
    redisSetTimeout(context_, kTimeout);
    if (failureLogged_)
        log_("registry reachable again at " + settings_.address.host + ":" + std::to_string(settings_.address.port));
    failureLogged_ = false;
    return true;
}

void RedisRegistry::dropConnection(const char* what)
{
    if (!failureLogged_)
        log_(std::string(what) + " at " + settings_.address.host + ":" + std::to_string(settings_.address.port) +
             (context_ && context_->err ? std::string(": ") + context_->errstr : std::string()));
    failureLogged_ = true;
    if (context_)
        redisFree(context_);
    context_ = nullptr;
}

bool RedisRegistry::writePending()
{
    std::map<HostIdentity, RegistryEntry> batch;
    {
        const std::lock_guard lock(mutex_);
        batch.swap(pending_);
    }
    const std::string expiry = std::to_string(settings_.expirySeconds);
    for (const auto& [identity, entry] : batch) {
        const std::string key = keyOf(identity);
        const auto value = encodeRegistryEntry(entry);
        redisAppendCommand(context_, "SET %b %b EX %s", key.data(), key.size(), value.data(), value.size(),
                           expiry.c_str());
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        void* reply = nullptr;
        if (redisGetReply(context_, &reply) != REDIS_OK) {
            const std::lock_guard lock(mutex_);
            for (auto& [identity, entry] : batch) // newer publications win over these
                pending_.try_emplace(identity, entry);
            dropConnection("lost the registry");
            return false;
        }
        freeReplyObject(reply);
    }
    return true;
}

bool RedisRegistry::readAll(Snapshot& out)
{
    std::string cursor = "0";
    do {
        const Reply scan = command(
            context_, {"SCAN", cursor, "MATCH", std::string(kKeyPrefix) + "*", "COUNT", std::to_string(kScanCount)});
        if (!scan || scan->type != REDIS_REPLY_ARRAY || scan->elements != 2 ||
            scan->element[0]->type != REDIS_REPLY_STRING || scan->element[1]->type != REDIS_REPLY_ARRAY) {
            dropConnection("cannot read the registry");
            return false;
        }
        cursor.assign(scan->element[0]->str, scan->element[0]->len);
        const redisReply* keys = scan->element[1];
        if (keys->elements == 0)
            continue;
        std::vector<std::string> get{"MGET"};
        for (std::size_t i = 0; i < keys->elements; ++i)
            if (keys->element[i]->type == REDIS_REPLY_STRING)
                get.emplace_back(keys->element[i]->str, keys->element[i]->len);
        const Reply values = command(context_, get);
        if (!values || values->type != REDIS_REPLY_ARRAY || values->elements != get.size() - 1) {
            dropConnection("cannot read the registry");
            return false;
        }
        for (std::size_t i = 0; i < values->elements && out.size() < settings_.maxEntries; ++i) {
            const redisReply* value = values->element[i];
            if (value->type != REDIS_REPLY_STRING) // expired between SCAN and MGET
                continue;
            const auto entry =
                parseRegistryEntry(ByteSpan(reinterpret_cast<const std::uint8_t*>(value->str), value->len));
            // Whatever else is in the database, only well-formed entries under their own key count.
            if (entry && keyOf(entry->record.identity) == get[i + 1])
                out.push_back(*entry);
        }
    } while (cursor != "0" && out.size() < settings_.maxEntries);
    return true;
}

} // namespace vandry
