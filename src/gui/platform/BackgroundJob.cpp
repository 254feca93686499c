#include "platform/BackgroundJob.h"

#include <QThread>

namespace talvesk::platform {

BackgroundJob::~BackgroundJob()
{
    stop();
}

void BackgroundJob::start(std::function<void(const StopRequested &)> work, std::function<void()> done,
                          std::function<void()> interrupt)
{
    stop();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    interrupt_ = std::move(interrupt);
    const int generation = ++generation_;
    thread_ = QThread::create([work = std::move(work), flag = stop_] { work([&flag] { return flag->load(); }); });
    connect(thread_, &QThread::finished, this, [this, generation, done = std::move(done)] {
        if (generation != generation_)
            return; // stopped, or another job has begun
        reap();
        if (done)
            done();
        emit finished();
    });
    thread_->start();
}

void BackgroundJob::stop()
{
    if (!thread_)
        return;
    ++generation_;
    *stop_ = true;
    if (interrupt_)
        interrupt_();
    reap();
}

void BackgroundJob::reap()
{
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    interrupt_ = nullptr;
}

} // namespace talvesk::platform
