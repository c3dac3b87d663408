#pragma once

#include <QListWidget>

namespace arcsweep {

// The folder's files matching a pattern ("*.zip", case ignored), sorted by name.
// Click is raised once the selection has changed to a file (by the mouse, the keys
// or the program), so a handler always sees the file that is highlighted. Setting
// Path or ListIndex raises its event synchronously, as a user's action does. Names
// are held as the file system has them (see Fs); the list shows them readable.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget *parent = nullptr);

    QString Path() const { return path_; }
    void setPath(const QString &path); // lists the folder; throws nothing, empties on failure
    QString Pattern() const { return pattern_; }
    void setPattern(const QString &pattern);
    void Refresh(); // re-reads the folder; a selected file still there stays selected

    int ListCount() const { return count(); }
    int ListIndex() const;
    void setListIndex(int index); // raises Click
    QString List(int index) const;
    QString FileName() const; // the selected file's name, or empty

signals:
    void Click();
    void PathChange();

protected:
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;

private:
    QString path_;
    QString pattern_ = QStringLiteral("*.zip");
};

} // namespace arcsweep
