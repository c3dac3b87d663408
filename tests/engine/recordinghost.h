#pragma once

// The clean-all run without a window: a host that keeps the browser's lists in memory,
// records what the run showed and asked for, and a fixture that runs the real engine
// over a test tree with it. The archives, the purge list and the run files are real.

#include "common/appstate.h"
#include "common/damagedarchiverule.h"
#include "common/fs.h"
#include "common/textfile.h"
#include "engine/cleanrun.h"
#include "engine/runhost.h"
#include "runtree.h"
#include "zip/archiveactions.h"
#include "zip/zipcomponent.h"
#include "zip/zipresult.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <gtest/gtest.h>

namespace arcsweep::test {

class RecordingHost : public RunHost {
public:
    explicit RecordingHost(AppState &state) : state_(state) {
        QObject::connect(&zip_, &ZipComponent::Listing, [this](const ZipEntryInfo &entry) {
            pending_.append(entry.FileName.toLower());
        });
    }

    AppState &state() override { return state_; }
    ZipComponent &zip() override { return zip_; }
    int driveCheck(const QString &pathOnVolume) override {
        said.append(QStringLiteral("drive check ") + pathOnVolume);
        return driveAnswer;
    }

    QString drive() const override { return drive_; }
    void setDrive(const QString &pathOnVolume) override { drive_ = pathOnVolume; }
    QString dirPath() const override { return dir_; }
    // As the folder list's change does: the archive list follows and its first archive
    // is selected, unless a stop is under way.
    bool setDirPath(const QString &path) override {
        if (!Fs::canEnter(path))
            return false;
        dir_ = path;
        if (state_.AbortRequested)
            return true;
        clearEntries();
        setFilePath(path);
        if (!files_.isEmpty())
            selectFile(0, true);
        return true;
    }
    void setFilePath(const QString &path) override {
        filesPath_ = path;
        selected_ = -1;
        refreshFiles();
    }
    void refreshFiles() override {
        const QString kept = files_.value(selected_);
        files_ =
            filesPath_.isEmpty() ? QStringList() : Fs::files(filesPath_, QStringLiteral(".zip"));
        Fs::sortNames(files_);
        selected_ = kept.isEmpty() ? -1 : int(files_.indexOf(kept));
    }
    int fileCount() const override { return int(files_.size()); }
    QString fileName(int index) const override { return files_.value(index); }
    // Choosing an archive outside a run tests it, as a click would.
    void selectFile(int index, bool selected) override {
        if (!selected) {
            if (selected_ == index)
                selected_ = -1;
            return;
        }
        selected_ = index < files_.size() ? index : -1;
        state_.VerifyMode = false;
        if (!state_.Running && selected_ >= 0)
            archiveTest();
    }

    void clearEntries() override {
        pending_.clear();
        entries_.clear();
    }
    void addEntry(const QString &name) override {
        flush();
        entries_.insert(std::lower_bound(entries_.begin(), entries_.end(), name), name);
    }
    int entryCount() const override { return int(flushed().size()); }
    QString entry(int index) const override { return flushed().value(index); }
    void removeEntry(int index) override {
        flush();
        if (index >= 0 && index < entries_.size())
            entries_.removeAt(index);
    }
    void selectEntry(int, bool) override {}
    void focusEntries() override {}

    void setStatusCaption(const QString &text) override { statusCaption = text; }
    void setProgressStyle(int) override {}
    void setProgressCaption(const QString &text) override {
        if (!text.isEmpty())
            said.append(QStringLiteral("progress ") + text);
    }
    int progressPercent() const override { return percent_; }
    void setProgressPercent(int percent) override { percent_ = percent; }
    void setWindowCaption(const QString &text) override { windowCaption = text; }
    void setProcessedText(const QString &text) override { processedText = text; }
    void setPurgedText(const QString &text) override { purgedText = text; }
    void setRunLook(bool running) override { runLook = running; }
    void setCleanButtonCaption(const QString &text) override { cleanCaption = text; }
    void setErrorsMenuEnabled(bool enabled) override { errorsMenu = enabled; }

    // The selected-archive test: listed and tested, a damaged archive reported (outside
    // a run) and renamed where the volume allows.
    void archiveTest() override {
        clearEntries();
        const QString name = files_.value(selected_);
        if (name.isEmpty())
            return;
        DamagedArchiveRule damaged;
        damaged.report = [this](const QString &lowerPath) {
            if (!state_.Running && !state_.unattended())
                said.append(QStringLiteral("CRC error in - ") + lowerPath);
        };
        damaged.mayRename = [this](const QString &path) {
            return !state_.Closing && !state_.DryRun && driveCheck(path) > 2;
        };
        ++archiveTests;
        if (isDamageCode(ArchiveActions::listAndTest(zip_, filesPath_ + u'/' + name, &damaged,
                                                     !state_.Running)))
            refreshFiles();
    }
    void yield() override {
        ++yields;
        if (onYield)
            onYield();
    }
    void showError(const QString &text) override { said.append(QStringLiteral("box ") + text); }
    void playSound(const QString &wavePath) override {
        said.append(QStringLiteral("sound ") + QFileInfo(wavePath).fileName());
    }
    // The statistics are shown and left at once.
    void showStatistics(const QString &savedFolder) override {
        said.append(QStringLiteral("statistics ") + savedFolder);
        state_.StatsWaiting = false;
    }
    void afterStatistics() override {}

    QStringList files() const { return files_; }
    QStringList entries() const { return flushed(); }

    // What the run said and asked for, in order: "box TEXT", "sound NAME", "statistics
    // FOLDER", "progress CAPTION", "drive check PATH", and the archive test's report.
    QStringList said;
    int driveAnswer = 3; // the drive information's answer: 3 ready and writable
    int archiveTests = 0;
    int yields = 0;
    std::function<void()> onYield;
    QString statusCaption, windowCaption, processedText, purgedText, cleanCaption;
    bool runLook = false;
    bool errorsMenu = false;

private:
    void flush() {
        if (pending_.isEmpty())
            return;
        std::sort(pending_.begin(), pending_.end());
        for (const QString &name : std::exchange(pending_, {}))
            entries_.insert(std::lower_bound(entries_.begin(), entries_.end(), name), name);
    }
    QStringList flushed() const {
        const_cast<RecordingHost *>(this)->flush();
        return entries_;
    }

    AppState &state_;
    ZipComponent zip_;
    QString drive_ = QStringLiteral("/");
    QString dir_, filesPath_;
    QStringList files_;
    int selected_ = -1;
    QStringList pending_, entries_;
    int percent_ = 0;
};

// A run of the real engine over a test tree ("Zip Tree"), with its data folder ("App
// Folder") and a recording host in place of the main window.
class HostRun : public RunTree {
public:
    HostRun() : RunTree(state, tree) {
        appFolder = root.filePath(QStringLiteral("App Folder"));
        tree = root.filePath(QStringLiteral("Zip Tree"));
        QDir().mkpath(appFolder + QStringLiteral("/temp"));
        QDir().mkpath(tree);
        state.AppFolder = appFolder;
        host.setDrive(tree);
        host.setDirPath(tree);
        run.setYieldInterval(0);
    }

    // "&Clean all": the run goes to its end (the statistics are left at once).
    void clean() { run.Command2_Click(); }

    QString appFile(const char *name) const { return state.file(name); }

    QTemporaryDir root;
    QString appFolder;
    QString tree;
    AppState state;
    RecordingHost host{state};
    CleanRun run{host};
};

} // namespace arcsweep::test
