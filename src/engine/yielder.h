#pragma once

#include <QElapsedTimer>

namespace arcsweep {

class RunHost;

// The run's yields to the window system. Letting pending events run costs far more
// than cleaning a small entry, so the frequent yields (per purge-list line, per entry,
// per archive, per folder) happen at most once per interval; the run's flag checks
// stay where they are, so an abort is still noticed at the next check after the
// event that caused it has run.
class Yielder {
public:
    explicit Yielder(RunHost &host, int intervalMs = 25) : host_(host), intervalMs_(intervalMs) {}
    void setInterval(int ms) { intervalMs_ = ms; }

    // Yields when the interval has passed since the last yield (always the first time).
    void maybe() {
        // The clock is read every few calls: an entry takes microseconds.
        if (++calls_ % 8 != 1 && intervalMs_ > 0)
            return;
        if (!last_.isValid() || last_.elapsed() >= intervalMs_)
            now();
    }
    // Yields unconditionally.
    void now();
    // Forgets the last yield, so the next maybe() yields.
    void reset() { last_.invalidate(); }

    // How often and how long the run has yielded (for the benchmarks).
    qint64 count() const { return count_; }
    qint64 nanoseconds() const { return nanos_; }
    void clearCounts() { count_ = nanos_ = 0; }

private:
    RunHost &host_;
    int intervalMs_;
    QElapsedTimer last_;
    qint64 count_ = 0;
    quint64 calls_ = 0;
    qint64 nanos_ = 0;
};

} // namespace arcsweep
