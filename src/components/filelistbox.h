#pragma once

#include <QListWidget>

namespace arcsweep {

// The folder's files matching a pattern ("*.zip", case ignored), sorted by name.
// Setting Path or ListIndex raises Change or Click synchronously, as a user's action does.
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
    int ListIndex() const { return currentRow(); }
    void setListIndex(int index); // raises Click
    QString List(int index) const;
    QString FileName() const; // the selected file's name, or empty

signals:
    void Click();
    void PathChange();

private:
    QString path_;
    QString pattern_ = QStringLiteral("*.zip");
};

} // namespace arcsweep
