#include "controls/filelistbox.h"

#include "common/fs.h"

namespace arcsweep {

namespace {
constexpr int NameRole = Qt::UserRole + 1;
}

FileListBox::FileListBox(QWidget *parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void FileListBox::selectionChanged(const QItemSelection &selected,
                                   const QItemSelection &deselected) {
    QListWidget::selectionChanged(selected, deselected);
    // A mouse press moves the current row before it selects: only now does the
    // selection show the file the user chose.
    if (!selected.isEmpty())
        emit Click();
}

void FileListBox::setPath(const QString &path) {
    path_ = path;
    {
        const QSignalBlocker block(this);
        clear(); // a new folder starts without a selection
    }
    Refresh();
    emit PathChange();
}

void FileListBox::setPattern(const QString &pattern) {
    pattern_ = pattern;
    Refresh();
}

void FileListBox::Refresh() {
    QStringList names;
    if (!path_.isEmpty()) {
        // "*.zip": the names ending in ".zip", case ignored.
        const QString suffix = pattern_.startsWith(u'*') ? pattern_.mid(1) : pattern_;
        names = Fs::files(path_, suffix);
    }
    Fs::sortNames(names);
    // The selected file stays selected while it is still there.
    const QString selected = FileName();
    const QSignalBlocker block(this);
    clear();
    for (const QString &name : names) {
        auto *it = new QListWidgetItem(Fs::display(name), this);
        it->setData(NameRole, name);
    }
    setCurrentRow(selected.isEmpty() ? -1 : int(names.indexOf(selected)));
}

int FileListBox::ListIndex() const {
    const QList<QListWidgetItem *> chosen = selectedItems();
    return chosen.isEmpty() ? -1 : row(chosen.first());
}

void FileListBox::setListIndex(int index) {
    QListWidgetItem *it = item(index);
    if (it == nullptr) {
        setCurrentRow(-1);
        return;
    }
    if (it->isSelected()) {
        emit Click(); // re-selecting the same archive still tests it
        return;
    }
    setCurrentItem(it, QItemSelectionModel::ClearAndSelect);
}

QString FileListBox::List(int index) const {
    const QListWidgetItem *it = item(index);
    return it ? it->data(NameRole).toString() : QString();
}

QString FileListBox::FileName() const {
    const QList<QListWidgetItem *> chosen = selectedItems();
    return chosen.isEmpty() ? QString() : chosen.first()->data(NameRole).toString();
}

} // namespace arcsweep
