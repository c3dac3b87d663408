#include "common/desktopservices.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>
#include <QProcess>
#include <QSoundEffect>
#include <QTimer>
#include <QtEndian>

#include <memory>

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

struct QtDesktopServices::Sounds {
    QHash<QString, std::shared_ptr<QSoundEffect>> effects;
};

QtDesktopServices::QtDesktopServices() : sounds_(new Sounds) {}
QtDesktopServices::~QtDesktopServices() {
    delete sounds_;
}

MsgAnswer QtDesktopServices::messageBox(QWidget *parent, const QString &text, const QString &title,
                                        MsgIcon icon, MsgButtons buttons) {
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
    if (buttons == MsgButtons::YesNo)
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    else
        box.setStandardButtons(QMessageBox::Ok);
    const int result = box.exec();
    if (buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    return result == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

bool QtDesktopServices::open(const QUrl &url) {
    if (QDesktopServices::openUrl(url))
        return true;
    // The path or address is one argument, whatever characters it holds: no shell.
    const QString target = url.isLocalFile() ? url.toLocalFile() : url.toString();
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {target}))
        return true;
    messageBox(nullptr,
               QStringLiteral("Could not open %1: no program to open it was found.").arg(target),
               QStringLiteral("Arcsweep"), MsgIcon::Exclamation, MsgButtons::Ok);
    return false;
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
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace arcsweep
