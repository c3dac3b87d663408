#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QMessageBox;
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

    // Shows a message box over `parent` (the active window when null) and returns the
    // answer. Once the program is closing no box opens: the default answer comes back
    // at once (Ok; No for a question, so nothing is done unasked).
    MsgAnswer messageBox(QWidget *parent, const QString &text, const QString &title, MsgIcon icon,
                         MsgButtons buttons = MsgButtons::Ok);

    // Opens a file (text editor, help page) or an address with the desktop's handler,
    // without waiting. When no program could open it, at once or when the opener
    // reports its failure later, a message box over `parent` says so.
    void open(const QUrl &url, QWidget *parent);

    // Plays a wave file. With `wait` the call returns when the sound has ended (at most
    // the wave's own duration); otherwise at once. A missing file plays nothing.
    virtual void playSound(const QString &wavePath, bool wait) = 0;

    // The program is closing: no box opens and nothing is opened from now on.
    void silence() { silenced_ = true; }
    bool silenced() const { return silenced_; }

    // The text of the box that says an opener failed.
    static QString cannotOpenText(const QUrl &url);

protected:
    virtual MsgAnswer showMessageBox(QWidget *parent, const QString &text, const QString &title,
                                     MsgIcon icon, MsgButtons buttons) = 0;
    // Starts the opener; calls `failed` (now or later, on this thread) when it could
    // not open the file or address.
    virtual void launch(const QUrl &url, std::function<void()> failed) = 0;

private:
    bool silenced_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(); // late failure reports check it
};

// Duration of a PCM wave file in milliseconds from its header; 0 when unreadable.
int waveDurationMs(const QString &wavePath);

// The real desktop: Qt message boxes (on standard error when there is no display),
// xdg-open watched for its exit status, QSoundEffect.
class QtDesktopServices : public DesktopServices {
public:
    QtDesktopServices();
    ~QtDesktopServices() override;
    void playSound(const QString &wavePath, bool wait) override;

    // Without a display a box cannot be answered: its text goes to standard error.
    static bool hasDisplay();
    // Widens a box to show its whole title in the window manager's title bar.
    static void fitTitle(QMessageBox &box);

protected:
    MsgAnswer showMessageBox(QWidget *parent, const QString &text, const QString &title,
                             MsgIcon icon, MsgButtons buttons) override;
    void launch(const QUrl &url, std::function<void()> failed) override;

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
        QWidget *parent; // the window the box stands over
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

    void playSound(const QString &path, bool wait) override { sounds.append({path, wait}); }

protected:
    MsgAnswer showMessageBox(QWidget *parent, const QString &text, const QString &title,
                             MsgIcon icon, MsgButtons buttons) override {
        boxes.append({text, title, icon, buttons, parent});
        if (buttons == MsgButtons::Ok)
            return MsgAnswer::Ok;
        return answers.isEmpty() ? MsgAnswer::No : answers.takeFirst();
    }
    void launch(const QUrl &url, std::function<void()> failed) override {
        opened.append(url);
        if (!openSucceeds)
            failed();
    }
};

} // namespace arcsweep
