#pragma once

#include "common/uniquefd.h"

#include <QLocalServer>
#include <QObject>

#include <functional>
#include <memory>

namespace arcsweep {

// One running instance per AppFolder. The first instance holds a lock on a file in the
// AppFolder and listens on a local socket; a later one asks it to bring its window
// forward.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString &appFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first instance (it then listens for others).
    bool isFirst() const { return first_; }
    // What the first instance answered when asked to show its window.
    enum class Handover { Shown, NoWindow, NoAnswer };
    // Asks the first instance to restore and activate its window; waits briefly.
    Handover activateFirst();
    // The first instance's process id, as it answered (0 when it did not).
    qint64 firstProcess() const { return firstProcess_; }
    // Tells, after activateRequested was handled, whether a window is on the screen;
    // without it the first instance answers that it shows none.
    void setShowsWindow(std::function<bool()> showsWindow) {
        showsWindow_ = std::move(showsWindow);
    }

    static QString keyFor(const QString &appFolder);

signals:
    void activateRequested();

private:
    QString key_;
    UniqueFd lockFd_; // the AppFolder, held locked while this instance runs
    QLocalServer server_;
    bool first_ = false;
    std::function<bool()> showsWindow_;
    qint64 firstProcess_ = 0;
};

} // namespace arcsweep
