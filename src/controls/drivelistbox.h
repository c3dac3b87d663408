#pragma once

#include <QComboBox>
#include <QFile>

namespace arcsweep {

// The volumes the program can browse: every valid, ready mounted volume except
// pseudo file systems, plus the volumes of the current and home folders. The list
// follows the mounts: it is read again when the mount table changes and whenever it
// drops down. Setting Drive (a volume root, or any path on it) raises Change
// synchronously.
class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget *parent = nullptr);

    QString Drive() const { return drive_; }
    void setDrive(const QString &pathOnVolume);
    // Shows the volume that holds `path` without raising Change: the drive list
    // follows the folder list across mount points.
    void follow(const QString &path);
    void Refresh();
    void showPopup() override;

signals:
    void Change();

private:
    QString drive_;
    QFile mountTable_; // polled for a change of this process's mounts
};

} // namespace arcsweep
