#include "components/filelistbox.h"

#include <QCollator>
#include <QDir>

#include <algorithm>

namespace arcsweep {

FileListBox::FileListBox(QWidget *parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            emit Click();
    });
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
        QDir dir(path_);
        names = dir.entryList({pattern_}, QDir::Files, QDir::NoSort);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::sort(names.begin(), names.end(), [&](const QString &a, const QString &b) {
        const int c = collator.compare(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    // The selected file stays selected while it is still there.
    const QString selected = FileName();
    const QSignalBlocker block(this);
    clear();
    addItems(names);
    setCurrentRow(selected.isEmpty() ? -1 : int(names.indexOf(selected)));
}

void FileListBox::setListIndex(int index) {
    if (index == currentRow() && index >= 0) {
        emit Click(); // re-selecting the same archive still tests it
        return;
    }
    setCurrentRow(index);
}

QString FileListBox::List(int index) const {
    const QListWidgetItem *it = item(index);
    return it ? it->text() : QString();
}

QString FileListBox::FileName() const {
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

} // namespace arcsweep
