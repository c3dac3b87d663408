#pragma once

#include <QtGlobal>

namespace arcsweep {

// The counters of one clean-all run and the byte totals over all runs.
// Counts are 64-bit: they never stop at 32767.
struct RunTotals {
    double Zips = 0;
    double CleanedZips = 0;
    double PurgedFiles = 0;
    double PurgedBytes = 0;
    double BytesTested = 0;
    double ExtraNfos = 0;
    qint64 BadZips = 0;
    qint64 DoubleDiz = 0;
    qint64 Processed = 0;
    qint64 PatternCount = 0;
    // Kept from run to run while the program stays open.
    double TotalBytesTested = 0;
    double TotalBytesPurged = 0;

    // Zeroes this run's counters; the cumulative totals stay.
    void startRun() {
        const double tested = TotalBytesTested, purged = TotalBytesPurged;
        const qint64 patterns = PatternCount;
        *this = RunTotals{};
        TotalBytesTested = tested;
        TotalBytesPurged = purged;
        PatternCount = patterns;
    }
};

} // namespace arcsweep
