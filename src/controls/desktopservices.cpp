#include "controls/desktopservices.h"

#include "common/fs.h"
#include "common/inputhold.h"
#include "common/uniquefd.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace arcsweep {

int waveDurationMs(const QString &wavePath) {
    QFile file(wavePath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return 0;
    quint32 byteRate = 0;
    // Walk the chunks: "fmt " gives the byte rate, "data" the length.
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return 0;
        const quint32 size = qFromLittleEndian<quint32>(chunk.constData() + 4);
        if (chunk.startsWith("fmt ")) {
            const QByteArray fmt = file.read(qMin<quint32>(size, 16));
            if (fmt.size() < 12)
                return 0;
            byteRate = qFromLittleEndian<quint32>(fmt.constData() + 8);
            file.seek(file.pos() - fmt.size() + size + (size & 1));
        } else if (chunk.startsWith("data")) {
            if (byteRate == 0)
                return 0;
            const qint64 available = qMin<qint64>(size, file.size() - file.pos());
            return int(available * 1000 / byteRate);
        } else if (!file.seek(file.pos() + size + (size & 1))) {
            return 0;
        }
    }
    return 0;
}

MsgAnswer DesktopServices::messageBox(QWidget *parent, const QString &text, const QString &title,
                                      MsgIcon icon, MsgButtons buttons) {
    if (silenced_)
        return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
    if (parent == nullptr)
        parent = QApplication::activeWindow();
    return showMessageBox(parent, text, title, icon, buttons);
}

QString DesktopServices::cannotOpenText(const QUrl &url) {
    const QString target = url.isLocalFile() ? Fs::display(url.toLocalFile()) : url.toString();
    return QStringLiteral("Could not open %1: no program to open it was found.").arg(target);
}

void DesktopServices::open(const QUrl &url, QWidget *parent) {
    if (silenced_)
        return;
    QPointer<QWidget> over = parent;
    std::weak_ptr<int> alive = alive_;
    launch(url, [this, url, over, alive] {
        if (!alive.expired())
            messageBox(over, cannotOpenText(url), QStringLiteral("Arcsweep"), MsgIcon::Exclamation);
    });
}

struct QtDesktopServices::Sounds {
    QHash<QString, std::shared_ptr<QSoundEffect>> effects;
};

QtDesktopServices::QtDesktopServices() : sounds_(new Sounds) {}
QtDesktopServices::~QtDesktopServices() {
    delete sounds_;
}

bool QtDesktopServices::hasDisplay() {
    return QGuiApplication::platformName() != QLatin1String("offscreen") &&
           QGuiApplication::platformName() != QLatin1String("minimal");
}

void QtDesktopServices::fitTitle(QMessageBox &box) {
    // The window manager writes the title in bold beside its icon and buttons; a box
    // sized for a short text alone would cut it.
    constexpr int TitleBarRoom = 140; // the frame's icon, buttons and margins
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int wanted = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + TitleBarRoom;
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

MsgAnswer QtDesktopServices::showMessageBox(QWidget *parent, const QString &text,
                                            const QString &title, MsgIcon icon,
                                            MsgButtons buttons) {
    const MsgAnswer fallback = buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
    if (!hasDisplay()) {
        // Nobody could answer a box: say it on standard error and take the default.
        const QByteArray line = Fs::encode(title + QStringLiteral(": ") + text) + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
        return fallback;
    }
    QMessageBox box(parent);
    box.setText(text);
    box.setWindowTitle(title);
    switch (icon) {
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    return result == QMessageBox::Yes ? MsgAnswer::Yes : fallback;
}

void QtDesktopServices::launch(const QUrl &url, std::function<void()> failed) {
    // xdg-open is what the desktop's own "open" runs here. It starts the handler and
    // exits non-zero when there is none (or it failed), possibly only after a while;
    // a watcher process that outlives us waits for it and reports its status through
    // a pipe, so we never wait and the opened program never depends on us.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return failed();
    const QByteArray program = Fs::encode(opener);
    const QByteArray target = url.isLocalFile() ? Fs::encode(url.toLocalFile()) : url.toEncoded();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return failed();
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        ::setsid();
        if (::fork() != 0)
            ::_exit(0); // the watcher is the grandchild: no zombie is left to us
        const pid_t opened = ::fork();
        if (opened == 0) {
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0)
                ::dup2(null, 0);
            char *const argv[] = {const_cast<char *>(program.constData()),
                                  const_cast<char *>(target.constData()), nullptr};
            ::execv(program.constData(), argv);
            ::_exit(127);
        }
        int status = 0;
        const bool ok = opened > 0 && ::waitpid(opened, &status, 0) == opened &&
                        WIFEXITED(status) && WEXITSTATUS(status) == 0;
        const char verdict = ok ? 0 : 1;
        (void)!::write(fds[1], &verdict, 1);
        ::_exit(0);
    }
    writeEnd.reset();
    if (child < 0)
        return failed();
    ::waitpid(child, nullptr, 0);
    // The notifier's handler owns the read end from here on and closes it once read.
    const int fd = readEnd.release();
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, fd, failed = std::move(failed)] {
                         char verdict = 1;
                         const bool got = ::read(fd, &verdict, 1) == 1;
                         notifier->setEnabled(false);
                         notifier->deleteLater();
                         ::close(fd);
                         if (!got || verdict != 0)
                             failed();
                     });
}

void QtDesktopServices::playSound(const QString &wavePath, bool wait) {
    if (!QFileInfo::exists(wavePath))
        return;
    auto &effect = sounds_->effects[wavePath];
    if (!effect) {
        effect = std::make_shared<QSoundEffect>();
        effect->setSource(QUrl::fromLocalFile(wavePath));
    }
    effect->play();
    if (!wait)
        return;
    // Without a sound server no finished signal ever comes: wait the wave's own
    // length, keeping windows painted but taking no input.
    const int ms = waveDurationMs(wavePath);
    if (ms <= 0)
        return;
    const InputHold hold;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace arcsweep
