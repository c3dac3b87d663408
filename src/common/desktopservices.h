#pragma once

#include <QList>
#include <QString>
#include <QUrl>

class QWidget;

namespace arcsweep {

enum class MsgIcon { Critical = 16, Question = 32, Exclamation = 48, Information = 64 };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

// Everything the program asks of the desktop: message boxes, handing files and
// pages to the desktop's programs, and sounds. Tests replace it with a scripted one.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    virtual MsgAnswer messageBox(QWidget *parent, const QString &text, const QString &title,
                                 MsgIcon icon, MsgButtons buttons = MsgButtons::Ok) = 0;
    // Opens a file (text editor, help page) or an address with the desktop's handler,
    // without waiting. False when nothing could open it.
    virtual bool open(const QUrl &url) = 0;
    // Plays a wave file. With `wait` the call returns when the sound has ended (at most
    // the wave's own duration); otherwise at once. A missing file plays nothing.
    virtual void playSound(const QString &wavePath, bool wait) = 0;
};

// Duration of a PCM wave file in milliseconds from its header; 0 when unreadable.
int waveDurationMs(const QString &wavePath);

// The real desktop: Qt message boxes, QDesktopServices with xdg-open as fallback,
// QSoundEffect.
class QtDesktopServices : public DesktopServices {
public:
    QtDesktopServices();
    ~QtDesktopServices() override;
    MsgAnswer messageBox(QWidget *parent, const QString &text, const QString &title, MsgIcon icon,
                         MsgButtons buttons) override;
    bool open(const QUrl &url) override;
    void playSound(const QString &wavePath, bool wait) override;

private:
    struct Sounds;
    Sounds *sounds_;
};

// A desktop for tests: records every box, opened address and sound, and answers
// boxes from a script (Ok, or the next queued answer).
class ScriptedDesktopServices : public DesktopServices {
public:
    struct Box {
        QString text, title;
        MsgIcon icon;
        MsgButtons buttons;
    };
    struct Sound {
        QString path;
        bool wait;
    };

    QList<Box> boxes;
    QList<QUrl> opened;
    QList<Sound> sounds;
    QList<MsgAnswer> answers; // consumed by question boxes, in order
    bool openSucceeds = true;

    MsgAnswer messageBox(QWidget *, const QString &text, const QString &title, MsgIcon icon,
                         MsgButtons buttons) override {
        boxes.append({text, title, icon, buttons});
        if (buttons == MsgButtons::Ok)
            return MsgAnswer::Ok;
        return answers.isEmpty() ? MsgAnswer::No : answers.takeFirst();
    }
    bool open(const QUrl &url) override {
        opened.append(url);
        return openSucceeds;
    }
    void playSound(const QString &path, bool wait) override { sounds.append({path, wait}); }
};

} // namespace arcsweep
