#include "controls/dirlistbox.h"

#include "common/fs.h"

#include <QKeyEvent>
#include <QStyle>

#include <algorithm>

namespace arcsweep {

namespace {
constexpr int PathRole = Qt::UserRole + 1;
}

DirListBox::DirListBox(QWidget *parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem *it) { openRow(row(it)); });
}

bool DirListBox::setPath(const QString &path) {
    if (path.isEmpty() || !Fs::canEnter(path))
        return false;
    const QString clean = Fs::absolute(path);

    QStringList subfolders = Fs::folders(clean, true);
    Fs::sortNames(subfolders);

    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    // Ancestors from the root down to the folder itself.
    QStringList chain;
    for (QString p = clean;;) {
        chain.prepend(p);
        if (p == u"/" || !p.contains(u'/'))
            break;
        const qsizetype slash = p.lastIndexOf(u'/');
        p = slash == 0 ? QStringLiteral("/") : p.left(slash);
    }
    int depth = 0;
    for (const QString &p : chain) {
        const QString label = p == u"/" ? p : Fs::display(p.mid(p.lastIndexOf(u'/') + 1));
        auto *it = new QListWidgetItem(open, QString(depth * 2, u' ') + label, this);
        it->setData(PathRole, p);
        ++depth;
    }
    const int current = count() - 1;
    for (const QString &name : subfolders) {
        auto *it = new QListWidgetItem(closed, QString(depth * 2, u' ') + Fs::display(name), this);
        it->setData(PathRole, clean == u"/" ? u'/' + name : clean + u'/' + name);
    }
    {
        const QSignalBlocker block(this);
        setCurrentRow(current);
    }
    path_ = clean;
    emit Change();
    return true;
}

QString DirListBox::List(int row) const {
    const QListWidgetItem *it = item(row);
    return it ? it->data(PathRole).toString() : QString();
}

void DirListBox::openRow(int row) {
    const QString target = List(row);
    if (!target.isEmpty() && target != path_)
        setPath(target);
}

void DirListBox::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openRow(currentRow());
        return;
    }
    QListWidget::keyPressEvent(event);
}

} // namespace arcsweep
