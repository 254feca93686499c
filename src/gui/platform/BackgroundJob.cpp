#include "platform/BackgroundJob.h"

#include <QThread>

namespace talvesk::platform {

BackgroundJob::~BackgroundJob()
{
    stop();
}

void BackgroundJob::start(Work work, std::function<void()> done)
{
    stop();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    const int generation = ++generation_;
    auto flag = stop_;
    thread_ = QThread::create([work = std::move(work), flag] { work(*flag); });
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
    reap();
}

void BackgroundJob::reap()
{
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
}

} // namespace talvesk::platform
