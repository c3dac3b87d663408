#pragma once

#include <QList>
#include <QPersistentModelIndex>
#include <QStringList>

class QListWidget;

namespace arcsweep {

// The selected items of an entry list, in list order, taken once before an operation
// that yields: the names stay fixed, and each row can still be deselected afterwards
// even when the list changed meanwhile (a row that is gone is skipped).
struct SelectedEntries {
    QStringList names;
    QList<QPersistentModelIndex> rows;

    static SelectedEntries of(const QListWidget *list);
    // Deselects the row of names[index] in `list`, if it is still there.
    void deselect(QListWidget *list, qsizetype index) const;
};

} // namespace arcsweep
