#include "zip/ziptestahead.h"

#include "zip/zipreading.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace arcsweep {

struct ZipTestAhead::Job {
    QString path;
    bool started = false, done = false;
    std::atomic<bool> cancelled{false};
    std::atomic<double> progress{0};
    Result result;
};

ZipTestAhead::ZipTestAhead(int workers, std::function<void(const QString &)> tested)
    : tested_(std::move(tested)) {
    if (workers <= 0)
        workers = int(std::max(1u, std::thread::hardware_concurrency()));
    ahead_ = size_t(workers) * 4; // enough to go on while the window thread waits on a sync
    idle_ = size_t(workers);
    for (int i = 0; i < workers; ++i)
        workers_.emplace_back([this] { work(); });
}

ZipTestAhead::~ZipTestAhead() {
    cancel();
    for (std::thread &t : workers_)
        t.join();
}

void ZipTestAhead::cancel() {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const auto &job : queue_)
        job->cancelled = true;
    queue_.clear();
    if (taking_)
        taking_->cancelled = true;
    changed_.notify_all();
}

void ZipTestAhead::enqueue(const QStringList &paths) {
    const std::lock_guard lock(mutex_);
    if (stopping_)
        return;
    for (const QString &path : paths) {
        if (std::any_of(queue_.cbegin(), queue_.cend(),
                        [&](const auto &job) { return job->path == path; }))
            continue;
        auto job = std::make_shared<Job>();
        job->path = path;
        queue_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void ZipTestAhead::work() {
    // Each worker keeps its own tester: its buffers and decompressor are reused.
    ZipEntryTester tester;
    std::unique_lock lock(mutex_);
    for (;;) {
        std::shared_ptr<Job> job;
        changed_.wait(lock, [&] {
            if (stopping_)
                return true;
            size_t inFlight = 0;
            for (const auto &j : queue_) {
                if (!j->started) {
                    job = inFlight < ahead_ ? j : nullptr;
                    return job != nullptr;
                }
                ++inFlight;
            }
            return false;
        });
        if (stopping_)
            return;
        --idle_;
        job->started = true;
        lock.unlock();
        tester.stop = [&job] { return job->cancelled.load(); };
        tester.progress = [&job](double done, double total) {
            job->progress = total > 0 ? done / total : 1.0;
        };
        auto archive = std::make_unique<ZipOpened>();
        const int code = archive->openAndTest(job->path, tester);
        lock.lock();
        job->result.code = code;
        job->result.archive = std::move(archive);
        job->done = true;
        ++idle_;
        changed_.notify_all();
        if (tested_) {
            lock.unlock();
            tested_(job->path);
            lock.lock();
        }
    }
}

ZipTestAhead::Result ZipTestAhead::take(const QString &path,
                                        const std::function<bool(double)> &waiting) {
    std::unique_lock lock(mutex_);
    const auto found = std::find_if(queue_.begin(), queue_.end(),
                                    [&](const auto &job) { return job->path == path; });
    if (found == queue_.end())
        return {};
    // Archives passed over (the walk went on without them) are not wanted any more.
    for (auto it = queue_.begin(); it != found; ++it)
        (*it)->cancelled = true;
    queue_.erase(queue_.begin(), found);
    const std::shared_ptr<Job> job = queue_.front();
    changed_.notify_all();
    taking_ = job;
    struct Release {
        std::deque<std::shared_ptr<Job>> &queue;
        std::shared_ptr<Job> &taking;
        ~Release() {
            if (!queue.empty() && queue.front() == taking)
                queue.pop_front();
            taking.reset();
        }
    } release{queue_, taking_};
    while (!job->done) {
        // Not begun, and every worker busy further back: tested here instead. A worker
        // that is free takes it up at once (it is first in the queue).
        if (!job->started && idle_ == 0) {
            job->cancelled = true;
            return {};
        }
        changed_.wait_for(lock, std::chrono::milliseconds(20));
        if (job->done)
            break;
        const double fraction = job->progress;
        lock.unlock();
        const bool wanted = waiting(fraction);
        lock.lock();
        if (!wanted || job->cancelled) {
            job->cancelled = true;
            return {};
        }
    }
    Result result = std::move(job->result);
    if (job->cancelled || result.code == ZipAborted)
        return {};
    return result;
}

} // namespace arcsweep
