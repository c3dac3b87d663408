#include "viewer/form2.h"

#include "zip/archiveactions.h"

#include "common/like.h"
#include "controls/selectedentries.h"
#include "controls/windowplace.h"

#include "common/appstate.h"
#include "common/purgelistadd.h"
#include "controls/desktopservices.h"
#include "viewer/entryview.h"
#include "viewer/textviewer.h"
#include "viewer/viewercaller.h"
#include "zip/zipcomponent.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPersistentModelIndex>
#include <QPlainTextEdit>
#include <QPushButton>

namespace arcsweep {

namespace {
constexpr int px(int twips) {
    return twips / 15;
}

// A DOS-style monospace font that has the box-drawing and block glyphs of ".nfo" art.
QFont viewerFont() {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSize(9);
    return font;
}

// A page with a green plus: "add to the list".
QIcon addIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(90, 90, 90));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 0.5, 10, 13));
    p.setPen(QColor(150, 150, 150));
    for (int y = 3; y <= 9; y += 3)
        p.drawLine(QPointF(3.5, y + 0.5), QPointF(9.5, y + 0.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 150, 40));
    p.drawRect(QRectF(10, 6, 3, 10));
    p.drawRect(QRectF(6.5, 9.5, 10, 3));
    return QIcon(pixmap);
}
} // namespace

Form2::Form2(TextViewer &viewer) : QWidget(nullptr), viewer_(viewer) {
    resize(px(9825), px(5730));
    setWindowIcon(addIcon());

    Text1 = new QPlainTextEdit(this);
    Text1->setGeometry(0, px(30), px(9825), px(5700));
    Text1->setReadOnly(true);
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setFont(viewerFont());
    // Tab stops every 8 columns, as text files with tabs were written to be read.
    Text1->setTabStopDistance(8 * QFontMetricsF(Text1->font()).horizontalAdvance(u' '));
    Text1->setUndoRedoEnabled(false);
    QPalette palette = Text1->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, Qt::black);
        palette.setColor(group, QPalette::Text, QColor(224, 224, 224));
    }
    Text1->setPalette(palette);
    Text1->viewport()->installEventFilter(this);

    Command1 = new QPushButton(addIcon(), QStringLiteral("&Add"), this);
    Command1->setGeometry(px(8250), px(270), px(945), px(345));
    Command1->setToolTip(QStringLiteral("Add to purge.txt"));
    Command1->raise();
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
}

Form2::~Form2() = default;

void Form2::Form_Load() {
    setWindowTitle(viewer_.state().ViewedEntry);
}

void Form2::showEntry() {
    Form_Load();
    WindowPlace::fitToScreen(this);
    show();
    WindowPlace::fitToScreen(this); // again with the frame the window manager drew
    raise();
    activateWindow();
    Text1->setFocus();
}

void Form2::Form_Unload() {
    ++viewing_; // a reading still under way is dropped
    hide();
    Text1->clear();
    unsetCursor();
}

void Form2::closeEvent(QCloseEvent *event) {
    event->ignore();
    Form_Unload();
}

void Form2::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form2::Form_Resize() {
    if (isMinimized())
        return;
    // Text1 keeps its top, so its lowest pixels lie below the client area.
    Text1->resize(width(), height());
    Command1->move(Text1->width() - px(1500), Command1->y());
}

bool Form2::eventFilter(QObject *watched, QEvent *event) {
    if (watched == Text1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        Text1_DblClick();
        return true; // no word selection
    }
    return QWidget::eventFilter(watched, event);
}

void Form2::Text1_DblClick() {
    Text1->setEnabled(false);
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        showNormal();
    else
        showMaximized();
    Text1->moveCursor(QTextCursor::Start);
    Text1->setEnabled(true);
    Text1->setFocus();
}

void Form2::ViewerRelistMain(ViewerCaller &main) {
    main.relist();
}

void Form2::ViewerRelistVerify(ViewerCaller &verification) {
    verification.relist();
}

void Form2::Command1_Click() {
    AppState &state = viewer_.state();
    if (!PurgeListAdd::purgeListExists(state)) {
        if (state.desktop)
            state.desktop->messageBox(this, QStringLiteral("No purge list exists"),
                                      QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
        return;
    }
    const auto role = state.VerifyMode ? TextViewer::Verification : TextViewer::Main;
    // The main window's own Add is off during a clean-all run, which works on the
    // same archive list and entry list: so is this one.
    if (role == TextViewer::Main && state.Running)
        return;
    Form_Unload();
    ViewerCaller *caller = viewer_.caller(role);
    if (!caller || !caller->beginAdd())
        return;
    caller->callerWindow()->setCursor(Qt::WaitCursor);

    // The archive and the names are fixed now: what happens in the windows during
    // the yields below cannot redirect the deletions to another archive.
    const QString archive = caller->addArchive();
    const SelectedEntries selected = SelectedEntries::of(caller->entryList());

    qsizetype current = 0;
    PurgeListAdd::Hooks hooks;
    hooks.handled = [&](const QString &name, bool isNew) {
        if (ViewerCaller *c = viewer_.caller(role))
            c->entryAdded(name, isNew);
    };
    hooks.deleteEntry = [&](const QString &name) {
        const qsizetype index = current++;
        ViewerCaller *c = viewer_.caller(role);
        if (!c)
            return;
        if (!archive.isEmpty()) {
            ArchiveActions::deleteEntry(c->zip(), archive, name);
        }
        if (!c->keepsSelection())
            selected.deselect(c->entryList(), index);
    };
    hooks.yield = [] { QCoreApplication::processEvents(); };
    QString error;
    const auto outcome = PurgeListAdd::run(state, selected.names, hooks, &error);

    caller = viewer_.caller(role);
    if (outcome == PurgeListAdd::Failed && state.desktop)
        state.desktop->messageBox(caller ? caller->callerWindow() : nullptr, error,
                                  QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
    if (!caller)
        return;
    if (role == TextViewer::Main)
        ViewerRelistMain(*caller);
    else
        ViewerRelistVerify(*caller);
    if ((caller = viewer_.caller(role)))
        caller->callerWindow()->unsetCursor();
}

} // namespace arcsweep
