// Renders the program's windows to PNG files on the offscreen platform, with a small
// demonstration tree so that the browser shows real archives. Under QT_SCALE_FACTOR the
// files are named after the scale (Form1-scale2.png) and hold the device pixels. Captions
// and buttons whose text needs more room than the window gives them, labels whose font
// resolves to a symbol font, and windows that do not fit the screen's available area
// are listed on standard output. On an X display (QT_QPA_PLATFORM=xcb) with a window manager
// running, each window is also taken from the screen with the frame the window manager drew around
// it (Form1-framed.png), together with where the window sits on the screen.
#include "common/appstate.h"
#include "controls/desktopservices.h"
#include "controls/dirlistbox.h"
#include "controls/filelistbox.h"
#include "shell/form1.h"
#include "shell/form1_view.h"
#include "verify/form6.h"
#include "viewer/form2.h"
#include "viewer/textviewer.h"
#include "windows/form3.h"
#include "windows/form4.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <zip.h>

#include <cstdio>

using namespace arcsweep;

namespace {

void writeZip(const QString &path, const QList<QPair<QString, QByteArray>> &entries) {
    int error = 0;
    zip_t *archive =
        zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return;
    for (const auto &[name, data] : entries) {
        auto *copy = static_cast<char *>(malloc(size_t(qMax<qsizetype>(1, data.size()))));
        memcpy(copy, data.constData(), size_t(data.size()));
        zip_source_t *src = zip_source_buffer(archive, copy, zip_uint64_t(data.size()), 1);
        zip_file_add(archive, name.toUtf8().constData(), src, ZIP_FL_ENC_UTF_8);
    }
    zip_close(archive);
}

// Lists the labels and buttons of `window` whose text does not fit their box.
void reportClipped(QWidget *window, const QString &name) {
    const auto report = [&](QWidget *w, const QString &text, QSize needed, QSize room) {
        if (needed.width() <= room.width() && needed.height() <= room.height())
            return;
        std::printf("clipped: %s %s \"%s\" needs %dx%d, has %dx%d\n", qPrintable(name),
                    w->metaObject()->className(), qPrintable(text), needed.width(), needed.height(),
                    room.width(), room.height());
    };
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty() || label->wordWrap())
            continue;
        const QSize text = label->fontMetrics().size(Qt::TextShowMnemonic, label->text());
        report(label, label->text(), text, label->contentsRect().size());
    }
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (!button->isVisibleTo(window) || button->text().isEmpty())
            continue;
        // The text, its icon, and the style's margin and frame around them.
        const QStyle *style = button->style();
        const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        QSize needed = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
        if (!button->icon().isNull())
            needed.rwidth() += button->iconSize().width() + 4;
        needed += QSize(margin, 2);
        report(button, button->text(), needed, button->size());
    }
}

// Lists the labels of `window` whose font resolves to a font without Latin letters (a
// symbol or dingbat font that fontconfig offered for a face missing here), and the
// window itself when it does not fit the available area of its screen.
void reportLook(QWidget *window, const QString &name) {
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty())
            continue;
        const QString family = QFontInfo(label->font()).family();
        const QList<QFontDatabase::WritingSystem> systems = QFontDatabase::writingSystems(family);
        if (!systems.contains(QFontDatabase::Latin) || systems.contains(QFontDatabase::Symbol))
            std::printf("symbol font: %s %s \"%s\" is drawn in \"%s\"\n", qPrintable(name),
                        label->metaObject()->className(), qPrintable(label->text()),
                        qPrintable(family));
    }
    const QRect area = window->screen()->availableGeometry();
    if (!area.contains(window->frameGeometry()))
        std::printf("off screen: %s at %d,%d %dx%d, the screen's available area %dx%d\n",
                    qPrintable(name), window->frameGeometry().x(), window->frameGeometry().y(),
                    window->frameGeometry().width(), window->frameGeometry().height(), area.width(),
                    area.height());
}

QString scaleSuffix() {
    const qreal scale = qApp->devicePixelRatio();
    return qFuzzyCompare(scale, 1.0) ? QString() : QStringLiteral("-scale%1").arg(scale);
}

bool onXDisplay() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// Lets the window manager map and frame the window, then takes the frame and the
// window from the screen.
bool saveFramed(QWidget *w, const QString &path) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 700)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    const QRect frame = w->frameGeometry();
    const QRect screen = w->screen()->geometry();
    const bool ok =
        w->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(path);
    // What the window asks the window manager for; some managers draw buttons that the
    // window has not asked for and then refuse their action.
    const Qt::WindowFlags flags = w->windowFlags();
    const bool fixed = w->minimumSize() == w->maximumSize();
    const bool bare = flags & Qt::FramelessWindowHint ||
                      (flags & Qt::CustomizeWindowHint && !(flags & Qt::WindowTitleHint));
    std::printf(
        "%s %s (frame %dx%d at %d,%d on a %dx%d screen; window %dx%d%s; asks for%s%s%s%s)\n",
        ok ? "wrote" : "FAILED", qPrintable(path), frame.width(), frame.height(), frame.x(),
        frame.y(), screen.width(), screen.height(), w->width(), w->height(),
        fixed ? ", fixed size" : "", bare ? " no caption" : " a caption",
        bare || !(flags & Qt::WindowMinimizeButtonHint) ? "" : ", minimise",
        bare || !(flags & Qt::WindowMaximizeButtonHint) || fixed ? "" : ", maximise",
        bare || !(flags & Qt::WindowCloseButtonHint) ? "" : ", close");
    return ok;
}

// On an X display only the framed picture is taken (the plain ones come from the
// offscreen runs), and not inside a run's own events (`framed` false).
bool save(QWidget *w, const QString &folder, const QString &name, bool framed = true) {
    w->show();
    QApplication::processEvents();
    const QString file = name + scaleSuffix();
    if (onXDisplay())
        return !framed || saveFramed(w, folder + u'/' + file + QStringLiteral("-framed.png"));
    const QString path = folder + u'/' + file + QStringLiteral(".png");
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    reportClipped(w, file);
    reportLook(w, file);
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(out);

    QTemporaryDir appFolder;
    QTemporaryDir tree;
    const QString zips = tree.filePath(QStringLiteral("Zips"));
    QDir().mkpath(zips + QStringLiteral("/Demos 1999"));
    QDir().mkpath(zips + QStringLiteral("/Utilities"));
    writeZip(zips + QStringLiteral("/Cool Demo.ZIP"),
             {{QStringLiteral("FILE_ID.DIZ"), "Cool Demo v2\r\n"},
              {QStringLiteral("Cool.nfo"), "release notes\r\n"},
              {QStringLiteral("Group.NFO"), "group info\r\n"},
              {QStringLiteral("demo.exe"), QByteArray(4096, 'x')},
              {QStringLiteral("Docs/ReadMe.txt"), "read me\r\n"}});
    writeZip(zips + QStringLiteral("/Tracker.zip"), {{QStringLiteral("tune.mod"), "mod"}});
    writeZip(zips + QStringLiteral("/Zapper 3.zip"), {{QStringLiteral("zap.com"), "com"}});

    ScriptedDesktopServices desktop;
    AppState state;
    state.AppFolder = appFolder.path();
    state.desktop = &desktop;

    int failures = 0;
    Form1 form(state);
    form.Form_Load();
    form.setDirPath(zips);
    form.File1->setListIndex(0);
    if (form.List1->count() > 1)
        form.List1->item(1)->setSelected(true);
    failures += !save(&form, out, QStringLiteral("Form1"));

    Form3 splash;
    failures += !save(&splash, out, QStringLiteral("Form3"));

    // The main window in the middle of a clean-all run (run as from the command line, so
    // that it ends without waiting for the statistics window).
    QFile purge(appFolder.filePath(QStringLiteral("purge.txt")));
    if (purge.open(QIODevice::WriteOnly))
        purge.write("*.com\r\n");
    purge.close();
    bool running = false;
    QTimer watch; // the run hands out events between its steps
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, &form, [&] {
        if (!running && state.Running && form.entryCount() > 0) {
            running = true;
            failures += !save(&form, out, QStringLiteral("Form1-running"), false);
        }
    });
    watch.start();
    state.CommandLine = zips;
    form.Command2_Click();
    state.CommandLine.clear();
    watch.stop();
    failures += !running;

    // The text viewer on DOS art, and the verification window on the queue of a run.
    QByteArray art;
    art += "\xC9" + QByteArray(30, '\xCD') + "\xBB\r\n";
    art += "\xBA  \xDB\xDB\xDB C O O L   D E M O \xDB\xDB\xDB   \xBA\r\n";
    art += "\xBA  \xB0\xB0\xB1\xB1\xB2\xB2\xDB\xDB\xB2\xB2\xB1\xB1\xB0\xB0  v2.0  1999  \xBA\r\n";
    art += "\xC8" + QByteArray(30, '\xCD') + "\xBC\r\n";
    art += "\r\n  Released by the group \x01 on a rainy \x0F day\r\n";
    const QString artZip = zips + QStringLiteral("/Art Pack.zip");
    writeZip(artZip, {{QStringLiteral("ART.NFO"), art},
                      {QStringLiteral("Crew.nfo"), "crew\r\n"},
                      {QStringLiteral("Greets.NFO"), "greets\r\n"},
                      {QStringLiteral("intro.exe"), QByteArray(2048, 'i')}});
    installEntryViewer(form);
    form.setDirPath(zips);
    const auto artRow = form.File1->findItems(QStringLiteral("Art Pack.zip"), Qt::MatchExactly);
    form.File1->setListIndex(artRow.isEmpty() ? 0 : form.File1->row(artRow.first()));
    for (QListWidgetItem *item : form.List1->findItems(QStringLiteral("art.nfo"), Qt::MatchExactly))
        item->setSelected(true);
    form.List1_DblClick();
    if (Form2 *viewer = entryViewerOf(form).loadedForm())
        failures += !save(viewer, out, QStringLiteral("Form2"));
    else
        ++failures;

    QFile verifyList(appFolder.filePath(QStringLiteral("Verify.txt")));
    if (verifyList.open(QIODevice::WriteOnly))
        verifyList.write(
            (artZip + QStringLiteral("\r\n") + zips + QStringLiteral("/Cool Demo.ZIP\r\n"))
                .toUtf8());
    verifyList.close();
    state.Totals.ExtraNfos = 3;
    form.showStatistics(zips);
    Form6 *verification = nullptr;
    if (Form4 *statistics = form.statistics()) {
        failures += !save(statistics, out, QStringLiteral("Form4"));
        statistics->Command3->click();
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *f = qobject_cast<Form6 *>(w); f && !f->unloaded())
                verification = f;
    }
    if (verification) {
        if (QListWidgetItem *item = verification->List1->item(0))
            item->setSelected(true);
        failures += !save(verification, out, QStringLiteral("Form6"));
    } else {
        ++failures;
    }

    // A message box as the program shows it, with a title longer than its text.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Arcsweep error"),
                    QStringLiteral("No purge list exists"), QMessageBox::Ok, &form);
    QtDesktopServices::fitTitle(box);
    failures += !save(&box, out, QStringLiteral("MessageBox"));
    box.hide();

    form.Form_Unload();
    return failures == 0 ? 0 : 1;
}
