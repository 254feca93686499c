#pragma once

#include "workbook/Workbook.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace talvesk::workbookimport {

// The used rows of a worksheet from row 2 on, read on a thread of their own while the import
// writes the rows before them: reading, inflating and parsing a workbook take about as long as
// writing its rows, and a second core does one while the first does the other. `read(row, into)`
// turns a row into what the import needs, on the reading thread. Rows come out in order; a
// failure while reading comes out of next() where its row would have, after every row before it.
// At most kBatches batches of kBatchRows rows wait at once, so memory stays bounded however far
// the writing falls behind. Leaving early (the writing failed, a preview has its rows) stops the
// reading; the worksheet must outlive this.
template <typename Row>
class ReadAhead {
public:
    static constexpr std::size_t kBatchRows = 256;
    static constexpr std::size_t kBatches = 8;
    using Read = std::function<void(workbook::Worksheet &sheet, qint64 row, Row &into)>;

    ReadAhead(workbook::Worksheet &sheet, Read read)
        : thread_([this, &sheet, read = std::move(read)] { readAll(sheet, read); })
    {
    }
    ~ReadAhead()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // The next row and its number; nullptr after the last. Throws what the reading threw, once
    // every row before the failure has been taken. The row stays valid until the next call.
    Row *next(qint64 &row)
    {
        if (at_ >= current_.size()) {
            std::unique_lock lock(mutex_);
            if (!current_.empty()) {
                spare_.push_back(std::move(current_));
                current_.clear();
            }
            at_ = 0;
            changed_.notify_all();
            changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
            if (ready_.empty()) {
                if (failure_)
                    std::rethrow_exception(std::exchange(failure_, nullptr));
                return nullptr;
            }
            current_ = std::move(ready_.front());
            ready_.pop_front();
            changed_.notify_all();
        }
        auto &[number, values] = current_[at_++];
        row = number;
        return &values;
    }

private:
    using Batch = std::vector<std::pair<qint64, Row>>;

    void readAll(workbook::Worksheet &sheet, const Read &read)
    {
        Batch batch;
        try {
            for (qint64 row = sheet.nextUsedRow(2); row > 0; row = sheet.nextUsedRow(row + 1)) {
                if (batch.capacity() == 0)
                    batch.reserve(kBatchRows);
                Row values{};
                read(sheet, row, values);
                batch.emplace_back(row, std::move(values));
                if (batch.size() == kBatchRows && !hand(batch))
                    return;
            }
        } catch (...) {
            // The rows read before the failure go first; the failure follows them.
            hand(batch);
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            finished_ = true;
            changed_.notify_all();
            return;
        }
        hand(batch);
        std::lock_guard lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }

    // Hands a batch to the writing side once there is room; `batch` comes back empty, with the
    // memory of a batch already taken when there is one. False when the reading is to stop.
    bool hand(Batch &batch)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ready_.size() < kBatches || stopping_; });
        if (stopping_)
            return false;
        if (!batch.empty())
            ready_.push_back(std::move(batch));
        batch.clear();
        if (!spare_.empty()) {
            batch = std::move(spare_.back());
            spare_.pop_back();
            batch.clear();
        }
        changed_.notify_all();
        return true;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> ready_; // read, waiting to be written
    std::vector<Batch> spare_; // written: their memory serves the next batches
    bool finished_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    // The writing side's own: the batch it takes rows from.
    Batch current_;
    std::size_t at_ = 0;
    std::thread thread_; // last: it starts once everything above is made
};

} // namespace talvesk::workbookimport
