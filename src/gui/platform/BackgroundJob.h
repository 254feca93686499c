#pragma once

#include "platform/Error.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace talvesk::platform {

// What a job's work came to: what it returned, or the error that ended it.
template <typename Result>
struct JobOutcome {
    std::optional<Result> result;
    std::optional<Error> failure;
};

// Work a window hands to a thread of its own, so that the window stays responsive, and whose end
// is told back on the window's thread: the preview counts, the lookup's totals, the overview's
// figures. One job at a time. Stopping is asked for, never forced: the work is handed a question
// (`stopRequested`) that it passes to the operation as its observer's, and the operation answers
// by ending (a core operation ends with errnum::Cancelled); an `interrupt` given with the job is
// also called, for work that waits inside one long statement. Starting another job, or stopping,
// asks the running one to stop and waits for it; a stopped job's end is never told.
class BackgroundJob : public QObject {
    Q_OBJECT
public:
    using StopRequested = std::function<bool()>;

    explicit BackgroundJob(QObject *parent = nullptr) : QObject(parent) {}
    ~BackgroundJob() override;

    // Runs `work(stopRequested)` on a new thread; `done(outcome)` runs on this object's thread once
    // it has ended, with what it returned or the platform::Error it threw.
    template <typename Result>
    void run(std::function<Result(const StopRequested &stopRequested)> work,
             std::function<void(const JobOutcome<Result> &outcome)> done, std::function<void()> interrupt = {})
    {
        auto outcome = std::make_shared<JobOutcome<Result>>();
        start(
            [work = std::move(work), outcome](const StopRequested &stopRequested) {
                try {
                    outcome->result.emplace(work(stopRequested));
                } catch (const Error &error) {
                    outcome->failure = error;
                }
            },
            [outcome, done = std::move(done)] { done(*outcome); }, std::move(interrupt));
    }

    void stop();
    bool running() const { return thread_ != nullptr; }

signals:
    // After `done` has run.
    void finished();

private:
    void start(std::function<void(const StopRequested &)> work, std::function<void()> done,
               std::function<void()> interrupt);
    void reap();

    QThread *thread_ = nullptr;
    std::shared_ptr<std::atomic<bool>> stop_;
    std::function<void()> interrupt_;
    int generation_ = 0;
};

} // namespace talvesk::platform
