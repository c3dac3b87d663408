#include "controls/selectedentries.h"

#include <QItemSelectionModel>
#include <QListWidget>

namespace arcsweep {

SelectedEntries SelectedEntries::of(const QListWidget *list) {
    SelectedEntries selected;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected()) {
            selected.names.append(list->item(i)->text());
            selected.rows.append(QPersistentModelIndex(list->model()->index(i, 0)));
        }
    return selected;
}

void SelectedEntries::deselect(QListWidget *list, qsizetype index) const {
    const QPersistentModelIndex row = rows.value(index);
    if (list && row.isValid())
        list->selectionModel()->select(row, QItemSelectionModel::Deselect);
}

} // namespace arcsweep
