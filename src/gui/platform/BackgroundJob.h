#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace talvesk::platform {

// Work a window hands to a thread of its own, so that the window stays responsive, and whose end
// is told back on the window's thread. One job at a time: starting another, or stopping, asks the
// running one to stop (it looks at the flag it is given) and waits for it; a stopped job's end is
// never told.
class BackgroundJob : public QObject {
    Q_OBJECT
public:
    using Work = std::function<void(const std::atomic<bool> &stopRequested)>;

    explicit BackgroundJob(QObject *parent = nullptr) : QObject(parent) {}
    ~BackgroundJob() override;

    // Runs `work` on a new thread; `done` runs on this object's thread once it has ended.
    void start(Work work, std::function<void()> done);
    void stop();
    bool running() const { return thread_ != nullptr; }

signals:
    // After `done` has run.
    void finished();

private:
    void reap();

    QThread *thread_ = nullptr;
    std::shared_ptr<std::atomic<bool>> stop_;
    int generation_ = 0;
};

} // namespace talvesk::platform
