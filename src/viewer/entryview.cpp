#include "viewer/entryview.h"


#include "common/appstate.h"
#include "common/damagedarchiverule.h"
#include "common/entrypath.h"
#include "common/fs.h"
#include "controls/desktopservices.h"
#include "viewer/cp437.h"
#include "viewer/form2.h"
#include "viewer/textviewer.h"
#include "viewer/viewercaller.h"
#include "zip/archiveactions.h"
#include "zip/zipcomponent.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPointer>

namespace arcsweep::EntryView {

namespace {
constexpr qint64 BlockSize = 256 * 1024;

void yield() {
    QCoreApplication::processEvents();
}

// True when `path` lies below `folder` once links are resolved: a link planted in
// the TempFolder must not lead the viewer elsewhere.
bool staysBelow(const QString &path, const QString &folder) {
    const QString base = QFileInfo(folder).canonicalFilePath();
    const QString real = QFileInfo(path).canonicalFilePath();
    return !base.isEmpty() && !real.isEmpty() && real.startsWith(base + u'/');
}

// Reads the shown part of the file block by block. `block` gets each block and
// returns false to stop; so does a reading that the viewer no longer wants.
template <typename Block, typename Wanted>
void readShownPart(QFile &file, Block &&block, Wanted &&wanted) {
    qint64 left = qMin(file.size(), ShownBytesLimit);
    QByteArray buffer;
    while (left > 0) {
        buffer = file.read(qMin(BlockSize, left));
        if (buffer.isEmpty())
            return; // read error: what was read is shown
        left -= buffer.size();
        if (!block(buffer))
            return;
        if (left > 0) {
            yield();
            if (!wanted())
                return;
        }
    }
}

// Line-end probe: the first CR or LF decides. Neither (within the shown part) counts as LF.
bool startsWithCR(QFile &file, const std::function<bool()> &wanted) {
    bool cr = false;
    readShownPart(
        file,
        [&](const QByteArray &buffer) {
            for (const char c : buffer)
                if (c == '\r' || c == '\n') {
                    cr = c == '\r';
                    return false;
                }
            return true;
        },
        wanted);
    file.seek(0);
    return cr;
}

// Lines longer than this are shown in pieces: one endless "line" (binary data, a
// file without line ends) would take the text box seconds to lay out.
constexpr qsizetype ShownLineLimit = 4096;

QString breakLongLines(const QString &text) {
    qsizetype run = 0;
    bool longLine = false;
    for (const QChar c : text) {
        run = (c == u'\n' || c == u'\r') ? 0 : run + 1;
        if (run > ShownLineLimit) {
            longLine = true;
            break;
        }
    }
    if (!longLine)
        return text;
    QString broken;
    broken.reserve(text.size() + text.size() / ShownLineLimit * 2 + 2);
    run = 0;
    for (const QChar c : text) {
        if (c == u'\n' || c == u'\r') {
            run = 0;
        } else if (++run > ShownLineLimit) {
            broken.append(u"\r\n");
            run = 1;
        }
        broken.append(c);
    }
    return broken;
}

// Decodes the shown part. LF text: each LF becomes CR LF and every CR is dropped.
// CR text: the bytes as they are, but without a final line-end or DOS end-of-file byte.
QString readText(QFile &file, bool crText, const std::function<bool()> &wanted) {
    QString text;
    const qint64 size = file.size();
    text.reserve(qMin(size, ShownBytesLimit) + 64);
    QByteArray lastByte;
    readShownPart(
        file,
        [&](const QByteArray &buffer) {
            if (crText) {
                Cp437::appendDecoded(text, buffer);
                return true;
            }
            qsizetype from = 0;
            for (qsizetype i = 0; i < buffer.size(); ++i) {
                const char c = buffer.at(i);
                if (c != '\n' && c != '\r')
                    continue;
                Cp437::appendDecoded(text, QByteArrayView(buffer).sliced(from, i - from));
                if (c == '\n')
                    text.append(u"\r\n");
                from = i + 1;
            }
            Cp437::appendDecoded(text, QByteArrayView(buffer).sliced(from));
            return true;
        },
        wanted);
    if (size > ShownBytesLimit)
        text.append(QStringLiteral("\r\n") + notShownLine(size));
    else if (crText && !text.isEmpty() &&
             (text.back() == u'\n' || text.back() == u'\r' || text.back() == u'\x2192'))
        text.chop(1); // 0x1A decodes to U+2192
    return breakLongLines(text);
}
} // namespace

bool isViewable(const QString &name) {
    return name.endsWith(u".nfo") || name.endsWith(u".diz") || name.endsWith(u".txt") ||
           name.endsWith(u".me");
}

QString notShownLine(qint64 fileSize) {
    return QStringLiteral("--- The viewer shows the first 16 MB only: the remaining %1 bytes "
                          "of this file were not shown. ---")
        .arg(fileSize - ShownBytesLimit);
}

namespace {

// The pointer goes back to normal on the calling window, if it is still there.
void normalPointer(const QPointer<QWidget> &window) {
    if (window)
        window->unsetCursor();
}

void makeTempFolder(const QString &temp) {
    if (!QFileInfo(temp).isDir())
        QDir().mkpath(temp);
}

// An older copy of the same name must not be shown in place of this entry.
void removeOlderCopy(const QString &path, const QString &temp) {
    if (!path.isEmpty() && QFileInfo(path).isFile() && staysBelow(path, temp))
        QFile::remove(path);
}

// What is done with the archive when the entry's extraction finds it damaged: the
// viewer is emptied, the caller's progress and list reset and marked, the box shown, and
// the archive renamed as the caller directs.
DamagedArchiveRule damagedRule(AppState &state, Form2 &form, ViewerCaller &caller,
                               const QPointer<QWidget> &window, const QString &entry) {
    DamagedArchiveRule rule;
    rule.report = [&state, &form, &caller, window, entry](const QString &lowerPath) {
        form.Text1->clear();
        normalPointer(window);
        caller.resetProgress();
        caller.markDamaged(entry);
        if (state.desktop)
            state.desktop->messageBox(window,
                                      QStringLiteral("CRC error in - ") + Fs::display(lowerPath),
                                      QStringLiteral("Arcsweep error"), MsgIcon::Critical);
    };
    rule.mayRename = [&caller](const QString &realPath) { return caller.mayRename(realPath); };
    return rule;
}

// The extracted file, when it is there and stays below the TempFolder.
bool openExtracted(QFile &file, const QString &path, const QString &temp) {
    return !path.isEmpty() && staysBelow(path, temp) && file.open(QIODevice::ReadOnly);
}

// Shows the extracted file at `path` in the viewer. A later viewing, or closing the
// viewer, ends this one at its next yield.
void showExtracted(Form2 &form, const QString &path, const QString &temp) {
    const quint64 viewing = form.beginViewing();
    QPointer<Form2> shown = &form;
    const std::function<bool()> wanted = [&] {
        return shown && shown->isVisible() && shown->viewing() == viewing;
    };

    QFile file(path);
    if (!openExtracted(file, path, temp)) {
        // Nothing readable under that name: the viewer opens empty.
        form.Text1->clear();
        form.showEntry();
        return;
    }
    const bool wasVisible = form.isVisible();
    const bool crText = startsWithCR(file, [&] {
        return shown && shown->viewing() == viewing && (!wasVisible || shown->isVisible());
    });
    if (!shown || shown->viewing() != viewing)
        return;
    form.showEntry();
    if (!crText) {
        yield();
        if (!wanted())
            return;
        form.setCursor(Qt::WaitCursor);
    }
    const QString text = readText(file, crText, wanted);
    if (wanted()) {
        form.Text1->setPlainText(text);
        form.unsetCursor();
    } else if (shown) {
        shown->unsetCursor();
    }
}

} // namespace

void view(TextViewer &viewer, ViewerCaller &caller, const QString &entry) {
    AppState &state = viewer.state();
    const QString temp = state.tempFolder();
    makeTempFolder(temp);
    if (!isViewable(entry))
        return;

    const QPointer<QWidget> window = caller.callerWindow();
    window->setCursor(Qt::WaitCursor);
    state.ViewedEntry = entry;

    const QString path = entryPathBelow(temp, entry);
    removeOlderCopy(path, temp);

    Form2 &form = viewer.form();
    const DamagedArchiveRule damaged = damagedRule(state, form, caller, window, entry);
    const int result =
        ArchiveActions::extractEntry(caller.zip(), caller.viewArchive(), entry, temp, &damaged);
    if (result != ZipOk)
        form.Text1->clear();
    if (isDamageCode(result)) {
        caller.afterDamage();
        normalPointer(window);
        return;
    }
    caller.resetProgress();
    showExtracted(form, path, temp);
    normalPointer(window);
}

} // namespace arcsweep::EntryView
