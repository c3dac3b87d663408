#include "engine/terminalprogress.h"

#include "common/fs.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace arcsweep {

namespace {
constexpr qint64 kEveryMs = 100;

int terminalWidth() {
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void write(const QByteArray &bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}
} // namespace

TerminalProgress::TerminalProgress() : isTerminal_(::isatty(STDERR_FILENO) == 1) {
    started_.start();
}

void TerminalProgress::show(double archivesDone, double bytesTested, const QString &folder) {
    if (!active_ || (lastShown_.isValid() && lastShown_.elapsed() < kEveryMs))
        return;
    lastShown_.restart();
    const double seconds = std::max(0.001, double(started_.elapsed()) / 1000.0);
    QString text = QStringLiteral("%1 archives done, %2 MB/s tested, in ")
                       .arg(qint64(archivesDone))
                       .arg(bytesTested / seconds / 1e6, 0, 'f', 1);
    // One line, never wrapped (a wrapped line could not be taken back): the folder
    // loses its beginning when the terminal is too narrow.
    const qsizetype room = std::max<qsizetype>(terminalWidth() - 1 - text.size(), 8);
    QString shownFolder = Fs::display(folder);
    if (shownFolder.size() > room)
        shownFolder = QStringLiteral("...") + shownFolder.right(room - 3);
    text += shownFolder;
    write("\r\x1b[K" + text.toUtf8());
    shown_ = true;
}

void TerminalProgress::clear() {
    if (!shown_)
        return;
    write("\r\x1b[K");
    shown_ = false;
    lastShown_.invalidate(); // the next state shows at once
}

} // namespace arcsweep
