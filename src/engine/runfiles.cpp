#include "engine/runfiles.h"

#include "common/appstate.h"
#include "common/fs.h"
#include "common/numbertext.h"
#include "common/textfile.h"

#include <cstdio>

namespace arcsweep {

namespace {
// The TotalsFile holds two short lines; a larger file is not read past this.
constexpr qint64 TotalsReadLimit = 64 * 1024;

// Empties (creates) the file and keeps it open; false when it cannot.
bool openEmpty(QFile &file, const QString &path) {
    if (file.isOpen())
        file.close();
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}
} // namespace

void RunFiles::openLists() {
    progress_.setActive(state_.unattended());
    notWritten_.clear();
    if (state_.DryRun)
        return; // a dry run writes no file
    const auto open = [this](QFile &list, const char *name) {
        if (!openEmpty(list, state_.file(name)))
            notWritten(list.fileName(), list.errorString());
    };
    open(errorLog_, DataFile::ErrorLog);
    open(verifyList_, DataFile::VerifyList);
}

// Lines are flushed one by one: the logs must be complete even if the run is cut short.
void RunFiles::writeFlushed(QFile &file, const QString &line) {
    if (file.isOpen() && !(TextFile::writeLine(file, line) && file.flush()))
        notWritten(file.fileName(), file.errorString());
}

void RunFiles::notWritten(const QString &path, const QString &cause) {
    if (notWritten_.contains(path))
        return;
    notWritten_.append(path);
    progress_.clear();
    toStderr(QStringLiteral("Arcsweep: cannot write %1: %2").arg(path, cause));
}

FileResult RunFiles::check(const QString &path, FileResult result) {
    if (!result)
        notWritten(path, result.cause());
    return result;
}

void RunFiles::closeLists() {
    errorLog_.close();
    verifyList_.close();
}

void RunFiles::logError(const QString &line) {
    writeFlushed(errorLog_, line);
    if (state_.unattended()) {
        progress_.clear();
        toStderr(line);
    }
}

void RunFiles::addToVerifyList(const QString &archivePath) {
    writeFlushed(verifyList_, archivePath);
}

FileResult RunFiles::updateTotals(const QString &totalsFile, RunTotals &totals, bool write) {
    QFile file(totalsFile);
    if (file.exists() && file.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromUtf8(file.read(TotalsReadLimit));
        const QStringList fields = NumberText::delimitedFields(text, 2);
        totals.TotalBytesTested = NumberText::leadingNumber(fields.value(0));
        totals.TotalBytesPurged = NumberText::leadingNumber(fields.value(1));
        file.close();
    }
    totals.TotalBytesTested += totals.BytesTested;
    totals.TotalBytesPurged += totals.PurgedBytes;
    if (!write)
        return {};
    return TextFile::writeLines(totalsFile, {NumberText::plain(totals.TotalBytesTested),
                                             NumberText::plain(totals.TotalBytesPurged)});
}

QStringList RunFiles::statsRecord(const RunTotals &t, const QString &savedFolder,
                                  const QDateTime &end) {
    const auto line = [](double value, const char *suffix) {
        return u' ' + NumberText::grouped(value) + QLatin1String(suffix);
    };
    return {
        end.toString(QStringLiteral("MM-dd-yyyy HH:mm:ss")),
        u' ' + Fs::lower(savedFolder),
        line(t.Zips, " - Zip's"),
        line(t.BytesTested, " - bytes tested"),
        line(t.TotalBytesTested, " - total bytes tested"),
        line(t.PurgedBytes, " - purged bytes"),
        line(t.TotalBytesPurged, " - total bytes purged"),
        line(double(t.PatternCount), " - in purge.txt"),
        line(t.CleanedZips, " - cleaned zip's"),
        line(t.PurgedFiles, " - purged files"),
        line(t.ExtraNfos, " - Extra nfos"),
        line(double(t.DoubleDiz), " - double diz's"),
        line(double(t.BadZips), " - bad zip's"),
        QString(),
    };
}

FileResult RunFiles::appendStatsRecord(const QString &statsLog, const QStringList &record) {
    return TextFile::appendLines(statsLog, record);
}

void RunFiles::toStdout(const QStringList &fields) {
    progress_.clear();
    const QByteArray bytes = Fs::encode(fields.join(u'\t')) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void RunFiles::toStderr(const QString &text) {
    const QByteArray bytes = Fs::encode(text) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace arcsweep
