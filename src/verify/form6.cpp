#include "verify/form6.h"

#include "common/appstate.h"
#include "common/damagedarchiverule.h"
#include "common/fs.h"
#include "common/inputhold.h"
#include "common/like.h"
#include "common/purgelistadd.h"
#include "common/textfile.h"
#include "controls/aniicon.h"
#include "controls/desktopservices.h"
#include "controls/selectedentries.h"
#include "controls/windowplace.h"
#include "viewer/entryview.h"
#include "viewer/textviewer.h"
#include "windows/form4.h"
#include "zip/archiveactions.h"
#include "zip/zipcomponent.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPersistentModelIndex>
#include <QPushButton>

namespace arcsweep {

namespace {
// Twips to pixels at 96 dpi.
constexpr int px(int twips) {
    return twips / 15;
}
QRect place(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}
const QString ErrorMarker = QStringLiteral("         --> Error! <--");

void yield() {
    QCoreApplication::processEvents();
}
} // namespace

Form6::Busy::Busy(Form6 *form) : form_(form) {
    ++form->depth_;
}

Form6::Busy::~Busy() {
    if (form_ && --form_->depth_ == 0 && form_->unloaded_)
        form_->deleteLater();
}

Form6::Form6(AppState &state, TextViewer &viewer, Form4 *statistics, QWidget *mainWindow,
             QListWidget *mainList)
    : QWidget(nullptr), state_(state), viewer_(viewer), statistics_(statistics),
      mainWindow_(mainWindow), mainList_(mainList) {
    buildControls();
}

Form6::~Form6() {
    if (viewer_.caller(TextViewer::Verification) == this)
        viewer_.setCaller(TextViewer::Verification, nullptr);
}

void Form6::buildControls() {
    // A fixed single border without control box: left only through Exit or the end of the queue.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Verify extra nfo's"));
    setFixedSize(px(3780), px(3990));
    QFont small = font();
    small.setPointSizeF(8);
    setFont(small);

    Label2 = new QLabel(this);
    Label2->setGeometry(place(210, 240, 3180, 195));
    Label2->setTextFormat(Qt::PlainText);
    List1 = new QListWidget(this);
    List1->setGeometry(place(165, 585, 2085, 2595));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setSortingEnabled(true);
    AniIcon1 = new AniIcon(this);
    AniIcon1->setGeometry(place(2715, 585, 600, 495));
    Frame1 = new QGroupBox(QStringLiteral("Zips to verify"), this);
    Frame1->setGeometry(place(2445, 1215, 1170, 765));
    Label3 = new QLabel(Frame1);
    Label3->setGeometry(place(120, 375, 930, 270));
    Label3->setAlignment(Qt::AlignCenter);
    Command2 = new QPushButton(QStringLiteral("&Next"), this);
    Command2->setGeometry(place(195, 3420, 915, 345));
    Command1 = new QPushButton(QStringLiteral("&Add"), this);
    Command1->setGeometry(place(1305, 3420, 915, 345));
    Command3 = new QPushButton(QStringLiteral("E&xit"), this);
    Command3->setGeometry(place(2640, 3420, 915, 345));
    setTabOrder(List1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    XceedZip1 = new ZipComponent(this);

    menu = new QMenu(QStringLiteral("menu"), this);
    view = menu->addAction(QStringLiteral("&View..."), this, [this] { List1_DblClick(); });
    menu->addSeparator();
    add = menu->addAction(QStringLiteral("&Add"), this, [this] { Command1_Click(); });
    delete_ = menu->addAction(QStringLiteral("&Delete"), this, [this] { delete_Click(); });
    menu->addSeparator();
    next = menu->addAction(QStringLiteral("&Next"), this, [this] { Command2_Click(); });
    menu->addSeparator();
    exit = menu->addAction(QStringLiteral("E&xit"), this, [this] { Command3_Click(); });

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(List1, &QListWidget::itemDoubleClicked, this, [this] { List1_DblClick(); });
    connect(XceedZip1, &ZipComponent::Listing, this, &Form6::XceedZip1_Listing);

    // Key preview: the Delete key works whichever control has the focus.
    for (QWidget *w : {static_cast<QWidget *>(List1), static_cast<QWidget *>(Command1),
                       static_cast<QWidget *>(Command2), static_cast<QWidget *>(Command3)})
        w->installEventFilter(this);
    List1->viewport()->installEventFilter(this);
}

// ---------------------------------------------------------------- load, unload

bool Form6::Form_Load() {
    Busy busy(this);
    const QString verifyList = state_.file(DataFile::VerifyList);
    if (!QFileInfo(verifyList).isFile()) {
        handBack();
        return false;
    }
    viewer_.setCaller(TextViewer::Verification, this);
    // Over the statistics window it was opened from, not wherever the system puts it.
    WindowPlace::centreOver(this, statistics_);
    show();
    queue_ = TextFile::readLines(verifyList);
    VerifyRemaining = qint32(queue_.size());
    showRemaining();
    if (state_.VerifyMode && state_.Totals.ExtraNfos != 0) {
        queueOpen_ = true;
        queuePos_ = 0;
        if (!queue_.isEmpty()) {
            VerifyArchive = queue_.at(queuePos_++);
            ListArchive();
        }
    }
    // Every walk starts with an empty VerifiedPurgeList.
    QFile::remove(state_.file(DataFile::VerifiedPurgeList));
    return !unloaded_;
}

void Form6::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    if (mainWindow_)
        mainWindow_->setEnabled(true);
    if (mainList_) {
        mainList_->setFocus();
        mainList_->clear();
    }
    if (statistics_)
        statistics_->Label11->setText(QStringLiteral("0\nExtra nfos"));
    if (state_.Totals.ExtraNfos == 0)
        state_.StatsWaiting = false;
    queueOpen_ = false;
    if (viewer_.caller(TextViewer::Verification) == this)
        viewer_.setCaller(TextViewer::Verification, nullptr);
    hide();
    if (depth_ == 0)
        deleteLater();
}

void Form6::handBack() {
    if (statistics_)
        statistics_->setEnabled(true);
    Form_Unload();
}

void Form6::closeEvent(QCloseEvent *event) {
    // No control box: a close asked by the window manager is not a way out.
    if (!unloaded_)
        event->ignore();
}

// ---------------------------------------------------------------- listing, next, exit

void Form6::XceedZip1_Listing(const ZipEntryInfo &entry) {
    List1->addItem(entry.FileName.toLower());
}

void Form6::ListArchive() {
    Busy busy(this);
    setCursor(Qt::WaitCursor);
    Label2->setText(Fs::display(Fs::lower(VerifyArchive)));
    Label2->setToolTip(Label2->text());
    List1->clear();
    DamagedArchiveRule damaged; // renamed whatever the volume; nothing goes to the ErrorLog
    damaged.report = [this](const QString &lowerPath) {
        unsetCursor();
        if (!state_.unattended() && state_.desktop)
            state_.desktop->messageBox(this,
                                       QStringLiteral("CRC error in - ") + Fs::display(lowerPath),
                                       QStringLiteral("Arcsweep error"), MsgIcon::Critical);
    };
    // The test lets no input in, nor acts on it afterwards.
    const int result = ArchiveActions::listAndTest(*XceedZip1, VerifyArchive, &damaged, true);
    if (!isDamageCode(result) && result != ZipOk) {
        List1->addItem(ErrorMarker);
    }
    unsetCursor();
}

void Form6::showRemaining() {
    // A leading blank where a negative number has its sign: " 3".
    Label3->setText((VerifyRemaining >= 0 ? QStringLiteral(" ") : QString()) +
                    QString::number(VerifyRemaining));
}

void Form6::Command2_Click() {
    Busy busy(this);
    if (unloaded_ || purging_)
        return;
    if (!queueOpen_ || queuePos_ >= queue_.size()) {
        handBack();
        return;
    }
    VerifyArchive = queue_.at(queuePos_++);
    ListArchive();
    --VerifyRemaining;
    showRemaining();
    PurgeVerified();
}

void Form6::Command3_Click() {
    Busy busy(this);
    if (unloaded_ || purging_)
        return;
    if (mainWindow_)
        mainWindow_->setEnabled(true);
    if (mainList_)
        mainList_->setFocus();
    state_.StatsWaiting = false;
    queueOpen_ = false;
    QPointer<Form4> statistics = statistics_;
    Form_Unload();
    // The statistics window goes as its own Exit would, so a later run can show it anew.
    if (statistics)
        statistics->Command1_Click();
}

// ---------------------------------------------------------------- verified purge

void Form6::setButtonsEnabled(bool enabled) {
    Command1->setEnabled(enabled);
    Command2->setEnabled(enabled);
    Command3->setEnabled(enabled);
}

void Form6::PurgeVerified() {
    Busy busy(this);
    const QString vpurge = state_.file(DataFile::VerifiedPurgeList);
    if (!QFileInfo(vpurge).isFile())
        return;
    if (List1->count() == 0 || List1->item(0)->text().isEmpty())
        return;
    setButtonsEnabled(false);
    purging_ = true;
    setCursor(Qt::WaitCursor);
    const QString archive = VerifyArchive;
    int i = 0;
    while (!unloaded_ && i < List1->count()) {
        QListWidgetItem *item = List1->item(i);
        List1->setCurrentItem(item);
        item->setSelected(true);
        List1->repaint();
        const QString name = item->text();
        bool matched = false;
        TextFile::forEachLine(vpurge, [&](const QString &line) {
            matched = likeMatch(name, line.toLower());
            return !matched;
        });
        bool removed = false;
        if (matched) {
            // Each matched entry is deleted by its own name: the line as EntrySpec would
            // also select an entry whose name merely equals it.
            const int result = ArchiveActions::deleteEntry(*XceedZip1, archive, name, true);
            if (isDamageCode(result)) {
                unsetCursor();
                setButtonsEnabled(true);
                purging_ = false;
                if (state_.desktop)
                    state_.desktop->messageBox(this,
                                               QStringLiteral("Zip crc error, can't purge file"),
                                               QStringLiteral("Arcsweep"), MsgIcon::Exclamation);
                return;
            }
            delete List1->takeItem(i);
            removed = true;
        }
        yield();
        if (!removed)
            ++i;
    }
    yield();
    if (!unloaded_)
        ListArchive();
    unsetCursor();
    setButtonsEnabled(true);
    purging_ = false;
}

int Form6::nfoCount() const {
    int count = 0;
    for (int i = 0; i < List1->count(); ++i)
        if (List1->item(i)->text().endsWith(u".nfo"))
            ++count;
    return count;
}

void Form6::advanceRule() {
    unsetCursor();
    if (nfoCount() < 2)
        Command2_Click();
}

void Form6::Command1_Click() {
    Busy busy(this);
    if (unloaded_ || purging_)
        return;
    if (!PurgeListAdd::purgeListExists(state_)) {
        if (state_.desktop)
            state_.desktop->messageBox(this, QStringLiteral("No purge list exists"),
                                       QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
        return;
    }
    setCursor(Qt::WaitCursor);
    const QString archive = VerifyArchive;
    const QString vpurge = state_.file(DataFile::VerifiedPurgeList);
    const SelectedEntries selected = SelectedEntries::of(List1);
    qsizetype current = 0;
    PurgeListAdd::Hooks hooks;
    hooks.deleteEntry = [&](const QString &name) {
        ArchiveActions::deleteEntry(*XceedZip1, archive, name);
        TextFile::appendLines(vpurge, {name});
        selected.deselect(List1, current++);
    };
    hooks.yield = [] { yield(); };
    QString error;
    if (PurgeListAdd::run(state_, selected.names, hooks, &error) == PurgeListAdd::Failed &&
        state_.desktop)
        state_.desktop->messageBox(this, error, QStringLiteral("Arcsweep error"),
                                   MsgIcon::Exclamation);
    if (unloaded_)
        return;
    ListArchive();
    advanceRule();
}

void Form6::deleteSelected(bool advance) {
    Busy busy(this);
    if (unloaded_ || purging_)
        return;
    setCursor(Qt::WaitCursor);
    const QList<QListWidgetItem *> selected = List1->selectedItems();
    if (!selected.isEmpty()) {
        const int result =
            ArchiveActions::deleteEntry(*XceedZip1, VerifyArchive, selected.first()->text(), true);
        if (isDamageCode(result)) {
            unsetCursor();
            if (state_.desktop)
                state_.desktop->messageBox(this, QStringLiteral("CRC error in ") + Label2->text(),
                                           QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
            return;
        }
    }
    ListArchive();
    if (advance)
        advanceRule();
    else
        unsetCursor();
}

void Form6::delete_Click() {
    deleteSelected(false);
}

// ---------------------------------------------------------------- viewer, keys, menu

void Form6::List1_DblClick() {
    Busy busy(this);
    if (unloaded_ || purging_)
        return;
    const QList<QListWidgetItem *> selected = List1->selectedItems();
    if (selected.isEmpty())
        return;
    EntryView::view(viewer_, *this, selected.first()->text().toLower());
}

bool Form6::beginAdd() {
    Busy busy(this);
    if (unloaded_ || purging_)
        return false;
    if (nfoCount() < 2) {
        handBack(); // nothing left to verify here: back to the statistics window
        return false;
    }
    return true;
}

void Form6::entryAdded(const QString &name, bool isNew) {
    if (isNew)
        TextFile::appendLines(state_.file(DataFile::VerifiedPurgeList), {name});
}

void Form6::relist() {
    ListArchive();
}

void Form6::Form_KeyDown(int key) {
    if (key == Qt::Key_Delete)
        deleteSelected(true);
}

void Form6::keyPressEvent(QKeyEvent *event) {
    Form_KeyDown(event->key());
    QWidget::keyPressEvent(event);
}

void Form6::List1_MouseDown(Qt::MouseButton button, const QPoint &globalPos) {
    if (button == Qt::RightButton && !unloaded_ && !purging_)
        menu->popup(globalPos);
}

bool Form6::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress && watched != List1->viewport()) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        Form_KeyDown(key);
        return key == Qt::Key_Delete; // handled here; must not reach the window a second time
    }
    if (watched == List1->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            List1_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
            return true; // a right click leaves the selection alone
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace arcsweep
