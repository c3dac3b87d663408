#pragma once

#include <QListWidget>

namespace arcsweep {

// A folder list: the current folder's ancestors from the volume root down, the
// folder itself, then its subfolders. Double-click or Enter opens a folder.
// Setting Path raises Change synchronously; a folder that cannot be entered makes
// setPath return false and leaves the list as it was.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirListBox(QWidget *parent = nullptr);

    QString Path() const { return path_; }
    bool setPath(const QString &path);
    // The full path of the folder shown at a row.
    QString List(int row) const;

signals:
    void Change();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void openRow(int row);
    QString path_;
};

} // namespace arcsweep
