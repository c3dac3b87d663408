// The main window's remaining menu commands: logs, help, web page, About.
#include "shell/form1.h"

#include "controls/desktopservices.h"
#include "common/inputhold.h"
#include "windows/form3.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace arcsweep {

void Form1::openInEditor(const QString &path) {
    state_.desktop->open(QUrl::fromLocalFile(path), this);
}

void Form1::log_Click() {
    const QString path = state_.file(DataFile::StatsLog);
    if (QFileInfo(path).isFile())
        openInEditor(path);
}

void Form1::dslog_Click() {
    const QString path = state_.file(DataFile::StatsLog);
    if (!QFileInfo(path).isFile())
        return;
    if (state_.desktop->messageBox(this, QStringLiteral("Delete status log?"),
                                   QStringLiteral("Arcsweep"), MsgIcon::Question,
                                   MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    QFile file(path);
    if (!file.remove())
        state_.desktop->messageBox(
            this, QStringLiteral("Cannot delete %1: %2").arg(path, file.errorString()),
            QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
}

void Form1::errors_Click() {
    openInEditor(state_.file(DataFile::ErrorLog));
}

void Form1::contents_Click() {
    openInEditor(state_.file(DataFile::HelpPage));
}

void Form1::web_Click() {
    state_.desktop->open(QUrl(QStringLiteral("https://arcsweep.org/")), this);
}

void Form1::about_Click() {
    const InputHold hold; // the splash and its sound take no input, now or later
    if (!splash_)
        splash_ = new Form3(this);
    splash_->show();
    splash_->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    state_.desktop->playSound(state_.file(DataFile::ThunderWave), true);
    if (splash_)
        splash_->hide();
}

} // namespace arcsweep
