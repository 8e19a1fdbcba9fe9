#pragma once
// Watches every folder of the share with inotify, so that a file added, renamed or removed is
// found by searches within seconds rather than at the next periodic rebuild. Bursts of changes
// (a folder copied in) end in one rebuild, a second after the last change.

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <unordered_map>

class QSocketNotifier;

namespace vandry {

class ShareWatcher : public QObject {
    Q_OBJECT
public:
    // `changed` runs on this thread after a burst of changes; `note` gets a line for the event
    // log when watching stops short (the system's limit of watches is reached).
    ShareWatcher(std::function<void()> changed, std::function<void(const std::string&)> note,
                 QObject* parent = nullptr);
    ~ShareWatcher() override;

    // Watches `root` and every folder below it, instead of what was watched before. An empty
    // root watches nothing.
    void watch(const std::string& root);
    bool watching() const { return fd_ >= 0; }

private:
    void stop();
    // False when the watch limit is reached: watching is then given up.
    bool addTree(const std::string& folder);
    void readEvents();

    std::function<void()> changed_;
    std::function<void(const std::string&)> note_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer settle_;
    std::unordered_map<int, std::string> folders_; // watch descriptor to folder
};

} // namespace vandry
