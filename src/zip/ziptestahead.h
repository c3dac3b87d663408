#pragma once

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace arcsweep {

struct ZipOpened;

// Opens and tests archives ahead of their turn on worker threads, one per core, a
// few archives ahead at most, so that the window thread mostly finds the verdict of
// the archive it comes to ready. The workers touch nothing but what they read.
class ZipTestAhead {
public:
    struct Result {
        int code = -1;                      // the listing's ZipResult
        std::unique_ptr<ZipOpened> archive; // null when the archive was not tested ahead
    };

    // `tested` is called on the worker's thread each time a verdict is ready (with the
    // archive's path), so that whoever needs to know can wait for it.
    explicit ZipTestAhead(int workers = 0, std::function<void(const QString &)> tested = {});
    ~ZipTestAhead(); // cancels and waits for the workers
    ZipTestAhead(const ZipTestAhead &) = delete;
    ZipTestAhead &operator=(const ZipTestAhead &) = delete;

    // The archives about to be asked for, in order, after those already queued (an
    // archive queued already keeps its place). Asking for one drops those before it.
    void enqueue(const QStringList &paths);
    // The verdict for `path`, waited for; one not begun is waited for only while a
    // worker is free to take it up, else it is left to the caller. `waiting` is called about every
    // 20 ms with the fraction tested so far; false from it gives the archive up.
    Result take(const QString &path, const std::function<bool(double)> &waiting);
    // Stops every test in progress, the one waited for included; nothing more is started.
    // May be called from inside `waiting`: that take() then returns nothing.
    void cancel();

private:
    struct Job;
    void work();
    void run(Job &job);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Job>> queue_; // in the order they will be taken
    std::shared_ptr<Job> taking_;            // the one take() waits for, out of the queue
    bool stopping_ = false;
    size_t ahead_ = 2; // jobs started and not yet taken, at most
    size_t idle_ = 0;  // workers not testing a job
    std::function<void(const QString &)> tested_;
    std::vector<std::thread> workers_;
};

} // namespace arcsweep
