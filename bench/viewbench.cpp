// How long the main window takes to show an entry in the text viewer: a 50 MB text
// entry of ordinary lines and one of 50 MB without a line break, each written into a
// fresh archive, double-clicked in the entry list of the real main window (offscreen),
// timed from the double-click until the viewer shows its text. Five runs of each; the
// median and the slowest are printed. Target: under 3 s each.
//
//   viewbench
#include "common/appstate.h"
#include "shell/form1.h"
#include "shell/form1_view.h"
#include "viewer/form2.h"
#include "viewer/textviewer.h"
#include "quietdesktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace arcsweep;
using bench::QuietDesktop;

namespace {

bool writeArchive(const QString &path, const char *name, const QByteArray &data) {
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (za == nullptr)
        return false;
    zip_source_t *src = zip_source_buffer(za, data.constData(), zip_uint64_t(data.size()), 0);
    const bool ok = src != nullptr && zip_file_add(za, name, src, 0) >= 0;
    return zip_close(za) == 0 && ok;
}

// Milliseconds from the double-click on the only entry until the viewer shows text.
double viewOnce(const QString &folder, const QString &archive) {
    QuietDesktop desktop;
    QTemporaryDir appFolder;
    AppState state;
    state.AppFolder = appFolder.path();
    state.desktop = &desktop;
    Form1 form(state);
    installEntryViewer(form);
    form.show();
    form.setDrive(folder);
    form.setDirPath(folder);
    form.setFilePath(folder);
    QCoreApplication::processEvents();
    if (form.entryCount() != 1) {
        std::fprintf(stderr, "viewbench: %s did not list one entry\n", qPrintable(archive));
        return -1;
    }
    QListWidget *list = form.List1;
    const QRect row = list->visualItemRect(list->item(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center()); // selects it
    QElapsedTimer timer;
    timer.start();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QCoreApplication::processEvents();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    Form2 *viewer = entryViewerOf(form).loadedForm();
    if (viewer == nullptr || !viewer->isVisible() || viewer->Text1->toPlainText().isEmpty()) {
        std::fprintf(stderr, "viewbench: the viewer did not show %s\n", qPrintable(archive));
        return -1;
    }
    viewer->close();
    return ms;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QByteArray lines;
    for (int line = 0; lines.size() < 50 * 1024 * 1024; ++line)
        lines += QByteArray("Line ") + QByteArray::number(line).rightJustified(8, '0') +
                 QByteArray(" of a very long release text, padded to look like an nfo\n");
    const struct {
        const char *label, *entry;
        QByteArray data;
    } cases[] = {{"50 MB of lines", "Huge.TXT", lines},
                 {"50 MB without a line break", "Flat.TXT", QByteArray(50 * 1024 * 1024, 'A')}};
    int failed = 0;
    for (const auto &c : cases) {
        QTemporaryDir dir;
        const QString archive = dir.filePath(QStringLiteral("Big.zip"));
        if (!writeArchive(archive, c.entry, c.data))
            return 2;
        std::vector<double> times;
        for (int rep = 0; rep < 5; ++rep)
            times.push_back(viewOnce(dir.path(), archive));
        std::sort(times.begin(), times.end());
        if (times.front() < 0)
            return 2;
        const bool ok = times.back() < 3000;
        failed += !ok;
        std::printf("%-28s median %7.1f ms, slowest %7.1f ms  (target < 3000 ms) %s\n", c.label,
                    times[2], times.back(), ok ? "PASS" : "FAIL");
    }
    return failed ? 1 : 0;
}
