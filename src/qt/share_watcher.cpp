#include "qt/share_watcher.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

namespace vandry {

namespace {
constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
constexpr int kSettleMs = 1000;
} // namespace

ShareWatcher::ShareWatcher(std::function<void()> changed, std::function<void(const std::string&)> note, QObject* parent)
    : QObject(parent), changed_(std::move(changed)), note_(std::move(note))
{
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] { changed_(); });
}

ShareWatcher::~ShareWatcher()
{
    stop();
}

void ShareWatcher::stop()
{
    // Stopping may happen while the notifier tells of events: it goes once that is over.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
    }
    notifier_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    folders_.clear();
    settle_.stop();
}

void ShareWatcher::watch(const std::string& root)
{
    stop();
    if (root.empty())
        return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        note_("share watch: inotify is not available (" + std::string(std::strerror(errno)) +
              "); changes in the share are found by the periodic rebuild");
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readEvents(); });
    addTree(root);
}

bool ShareWatcher::addTree(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        const std::string next = std::move(pending.back());
        pending.pop_back();
        const int wd = ::inotify_add_watch(fd_, next.c_str(), kChanges);
        if (wd < 0) {
            if (errno != ENOSPC)
                continue; // gone already, or unreadable: nothing there to find
            note_("share watch: the system's limit of watched folders (fs.inotify.max_user_watches) is "
                  "reached; changes in the share are found by the periodic rebuild");
            stop();
            return false;
        }
        folders_[wd] = next;
        // Symbolic links are not followed: the index does not follow them out of the share either.
        for (fs::directory_iterator it(next, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
             it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                pending.push_back(it->path().string());
    }
    return true;
}

void ShareWatcher::readEvents()
{
    alignas(inotify_event) std::array<char, 16384> buffer;
    std::vector<std::string> newFolders;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + at, sizeof event);
            const char* name = buffer.data() + at + sizeof(inotify_event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            if (at > got)
                break;
            if (event.mask & IN_IGNORED) {
                folders_.erase(event.wd);
                continue;
            }
            const auto folder = folders_.find(event.wd);
            if ((event.mask & IN_ISDIR) && (event.mask & (IN_CREATE | IN_MOVED_TO)) && folder != folders_.end() &&
                event.len > 0)
                newFolders.push_back(folder->second + "/" + std::string(name, ::strnlen(name, event.len)));
        }
    }
    // A folder moved or copied in is watched with everything below it.
    for (const std::string& folder : newFolders)
        if (!addTree(folder))
            break;
    settle_.start();
}

} // namespace vandry
