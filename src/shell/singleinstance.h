#pragma once

#include <QLocalServer>
#include <QObject>

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
    // Asks the first instance to restore and activate its window; waits briefly.
    bool activateFirst();

    static QString keyFor(const QString &appFolder);

signals:
    void activateRequested();

private:
    QString key_;
    int lockFd_ = -1; // the AppFolder, held locked while this instance runs
    QLocalServer server_;
    bool first_ = false;
};

} // namespace arcsweep
