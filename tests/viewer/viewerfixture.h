#pragma once

// The real main window with its text viewer wired, a folder of test archives, and
// the statistics and verification windows opened as a finished run opens them.

#include "appfixture.h"
#include "zipfixtures.h"

#include "common/textfile.h"
#include "shell/form1_view.h"
#include "verify/form6.h"
#include "viewer/form2.h"
#include "viewer/textviewer.h"
#include "windows/form4.h"

#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace arcsweep::test {

class ViewerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        folder = app.tree + QStringLiteral("/Viewer Zips");
        QDir().mkpath(folder);
        form = &app.makeForm();
        installEntryViewer(*form);
    }

    // Writes an archive into the test folder; entries are "Name", data pairs.
    QString zip(const QString &name, const QList<ZipFixtureEntry> &entries) {
        const QString path = folder + u'/' + name;
        EXPECT_TRUE(writeZip(path, entries)) << qPrintable(path);
        return path;
    }
    // Entries of that name with a line of text each.
    QString zipOf(const QString &name, const QStringList &entryNames) {
        QList<ZipFixtureEntry> entries;
        for (const QString &entry : entryNames)
            entries.append({entry, ("Text of " + entry + "\r\n").toUtf8()});
        return zip(name, entries);
    }
    static QStringList namesIn(const QString &archive) {
        QStringList names;
        for (const ZipFixtureEntry &entry : readZip(archive))
            names.append(entry.name);
        names.sort();
        return names;
    }

    // The browser on the test folder with `archive` selected, as a click selects it.
    void openArchive(const QString &archive) {
        app.browse(folder);
        app.clickArchive(archive);
    }

    // A real double-click on the entry, which it selects alone first.
    void doubleClickEntry(const QString &entry) { doubleClickRow(form->List1, entry); }

    Form2 *viewer() { return entryViewerOf(*form).loadedForm(); }
    bool viewerShown() { return viewer() && viewer()->isVisible(); }
    QString shownText() { return viewer() ? viewer()->Text1->toPlainText() : QString(); }

    void purgeList(const QStringList &lines) {
        writeFile(app.appFile(DataFile::PurgeList), (lines.join("\r\n") + "\r\n").toUtf8());
    }
    QStringList linesOf(const char *dataFile) { return TextFile::readLines(app.appFile(dataFile)); }

    // The statistics window of a run that queued `archives`, and its "&Verify" pressed.
    Form6 *startVerification(const QStringList &archives, double extraNfos = 3) {
        TextFile::writeLines(app.appFile(DataFile::VerifyList), archives);
        app.state.Totals.ExtraNfos = extraNfos;
        form->showStatistics(app.tree);
        statistics = form->statistics();
        if (!statistics)
            return nullptr;
        QTest::mouseClick(statistics->Command3, Qt::LeftButton);
        return verification();
    }
    // The verification window while it is open.
    static Form6 *verification() {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *f = qobject_cast<Form6 *>(w); f && !f->unloaded())
                return f;
        return nullptr;
    }
    static QStringList entriesOf(const QListWidget *list) {
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names.append(list->item(i)->text());
        return names;
    }
    static void select(QListWidget *list, const QString &entry) { clickRow(list, entry); }

    AppFixture app;
    QString folder;
    Form1 *form = nullptr;
    QPointer<Form4> statistics;
};

} // namespace arcsweep::test
