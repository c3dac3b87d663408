// The main window's frame: its controls, menus, key preview and the operations
// the clean-all run drives it through.
#include "shell/form1.h"

#include "common/fs.h"
#include "common/inputhold.h"
#include "controls/aniicon.h"
#include "controls/desktopservices.h"
#include "controls/dirlistbox.h"
#include "controls/drivelistbox.h"
#include "controls/filelistbox.h"
#include "controls/sspanel.h"
#include "engine/cleanrun.h"
#include "shell/form1_view.h"
#include "shell/windowloss.h"
#include "windows/form3.h"

#include <QApplication>
#include <QCloseEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

namespace arcsweep {

namespace {
// Twips to pixels at 96 dpi.
constexpr int px(int twips) {
    return twips / 15;
}
} // namespace

Form1::Form1(AppState &state, QWidget *parent)
    : QMainWindow(parent), state_(state), run_(std::make_unique<CleanRun>(*this)) {
    buildControls();
    buildMenus();
    setWindowTitle(QStringLiteral("Arcsweep"));
    setWindowIcon(Form3::programIcon());

    // The folder lists start where the program was started.
    Dir1->setPath(Fs::currentPath());
    Drive1->follow(Dir1->Path());
    File1->setPath(Dir1->Path());

    connect(Drive1, &DriveListBox::Change, this, &Form1::Drive1_Change);
    connect(Dir1, &DirListBox::Change, this, &Form1::Dir1_Change);
    connect(File1, &FileListBox::Click, this, &Form1::File1_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, [this] { List1_DblClick(); });
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(SSPanel3, &SSPanel::clicked, this, &Form1::about_Click);
    connect(XceedZip1, &ZipComponent::Listing, this, &Form1::XceedZip1_Listing);
    connect(XceedZip1, &ZipComponent::Status, this, &Form1::XceedZip1_Status);
    installEntryViewer(*this);
}

Form1::~Form1() = default;

void Form1::buildControls() {
    auto *client = new QWidget(this);
    client->setFixedSize(px(6300), px(4215));
    setCentralWidget(client);

    File1 = new FileListBox(client);
    File1->setGeometry(px(2100), px(510), px(1950), px(3210));
    File1->setPattern(QStringLiteral("*.zip"));
    Drive1 = new DriveListBox(client);
    Drive1->setGeometry(px(75), px(105), px(1950), px(315));
    Dir1 = new DirListBox(client);
    Dir1->setGeometry(px(75), px(495), px(1950), px(3240));
    List1 = new QListWidget(client);
    List1->setGeometry(px(4125), px(525), px(2085), px(2595));
    List1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    List1->setUniformItemSizes(true); // no per-item text layout while a run selects entries
    List1->setToolTip(QStringLiteral("Double-click on *.nfo to view"));
    Command1 = new QPushButton(QStringLiteral("&Add"), client);
    Command1->setGeometry(px(5250), px(3285), px(945), px(345));
    Command2 = new QPushButton(QStringLiteral("&Clean all"), client);
    Command2->setGeometry(px(4155), px(3285), px(915), px(345));
    Command2->setCursor(QCursor(Form3::programIcon(), 16, 16));
    Command3 = new QPushButton(QStringLiteral("E&xit"), client);
    Command3->setGeometry(px(5250), px(3780), px(945), px(345));
    Label2 = new QLabel(client);
    Label2->setGeometry(px(2820), px(45), px(2565), px(195));
    Label2->setAlignment(Qt::AlignCenter);
    Label3 = new QLabel(client);
    Label3->setGeometry(px(2775), px(285), px(2625), px(225));
    Label3->setAlignment(Qt::AlignCenter);
    SSPanel1 = new SSPanel(client);
    SSPanel1->setGeometry(px(90), px(3840), px(1920), px(225));
    SSPanel2 = new SSPanel(client);
    SSPanel2->setGeometry(px(2115), px(3840), px(2925), px(225));
    SSPanel3 = new SSPanel(client);
    SSPanel3->setGeometry(px(5430), px(15), px(720), px(390));
    SSPanel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
    SSPanel3->setPicture(Form3::programIcon().scaledToHeight(22, Qt::SmoothTransformation));
    SSPanel3->setCursor(Qt::PointingHandCursor);
    SSPanel3->setToolTip(QStringLiteral("About Arcsweep"));
    AniIcon1 = new AniIcon(client);
    AniIcon1->setGeometry(px(2220), px(15), px(480), px(480));
    AniIcon1->hide();
    XceedZip1 = new ZipComponent(this);

    QWidget::setTabOrder(File1, Drive1);
    QWidget::setTabOrder(Drive1, Dir1);
    QWidget::setTabOrder(Dir1, List1);
    QWidget::setTabOrder(List1, Command1);
    QWidget::setTabOrder(Command1, Command2);
    QWidget::setTabOrder(Command2, Command3);

    // Key preview: the window sees every key before the focused control does.
    for (QWidget *w : {static_cast<QWidget *>(File1), static_cast<QWidget *>(Drive1),
                       static_cast<QWidget *>(Dir1), static_cast<QWidget *>(List1),
                       static_cast<QWidget *>(Command1), static_cast<QWidget *>(Command2),
                       static_cast<QWidget *>(Command3)}) {
        w->installEventFilter(this);
        previewed_.append(w);
    }
    List1->viewport()->installEventFilter(this);
    Dir1->viewport()->installEventFilter(this); // its mouse input during a run
    client->installEventFilter(this);           // its paints (start-up waits for the first)

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    // Fixed size: the window is exactly its controls' client area and menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void Form1::buildMenus() {
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    vpurge = file->addAction(QStringLiteral("&Purge.txt..."), this, &Form1::vpurge_Click);
    vpurge->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    file->addSeparator();
    log = file->addAction(QStringLiteral("&Stats log"), this, &Form1::log_Click);
    log->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    dslog = file->addAction(QStringLiteral("&Delete stats log"), this, &Form1::dslog_Click);
    file->addSeparator();
    errors = file->addAction(QStringLiteral("&Zip error log..."), this, &Form1::errors_Click);
    errors->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    errors->setEnabled(false);
    file->addSeparator();
    exit = file->addAction(QStringLiteral("E&xit"), this, &Form1::exit_Click);
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    contents = help->addAction(QStringLiteral("&Contents..."), this, &Form1::contents_Click);
    contents->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    help->addSeparator();
    web = help->addAction(QStringLiteral("&Web..."), this, &Form1::web_Click);
    web->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    help->addSeparator();
    about = help->addAction(QStringLiteral("&About..."), this, &Form1::about_Click);
    about->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));

    // The entry list's pop-up menu: not part of the menu bar.
    menu = new QMenu(QStringLiteral("Menu"), this);
    view = menu->addAction(QStringLiteral("&View"), this, [this] { List1_DblClick(); });
    menu->addSeparator();
    add = menu->addAction(QStringLiteral("&Add"), this, &Form1::Command1_Click);
    delete_ = menu->addAction(QStringLiteral("&Delete"), this, &Form1::DeleteSelectedEntry);
    menu->addSeparator();
    exit2 = menu->addAction(QStringLiteral("E&xit"), this, &Form1::exit2_Click);
    for (QAction *a : menuBar()->actions())
        for (QAction *item : a->menu()->actions())
            item->setShortcutContext(Qt::WindowShortcut);
}

void Form1::centreOnScreen() {
    const QScreen *on = screen() ? screen() : QGuiApplication::primaryScreen();
    if (on == nullptr)
        return;
    const QRect frame = frameGeometry();
    move(on->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == centralWidget()) {
        if (event->type() == QEvent::Paint && firstTestPending_)
            // Tested once this paint is on the screen, not inside it.
            QMetaObject::invokeMethod(this, &Form1::testFirstArchive, Qt::QueuedConnection);
        return QMainWindow::eventFilter(watched, event);
    }
    // While a run goes the drive and folder lists are its own: a drive or folder chosen
    // there meanwhile would point the run's archive list elsewhere in mid-folder. Keys
    // are still previewed (Esc stops the run wherever the focus is).
    const bool runOwns =
        state_.Running && (watched == Drive1 || watched == Dir1 || watched == Dir1->viewport());
    if (event->type() == QEvent::KeyPress) {
        Form_KeyDown(static_cast<QKeyEvent *>(event)->key());
        return runOwns; // else the key still reaches the focused control
    }
    if (runOwns && InputHold::isUserInput(event->type()))
        return true;
    if (watched == List1->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            List1_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
            return true; // a right click leaves the selection alone
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::keyPressEvent(QKeyEvent *event) {
    // A key that a previewed control left unhandled comes up here again: handle it once.
    QWidget *focus = QApplication::focusWidget();
    if (!previewed_.contains(focus))
        Form_KeyDown(event->key());
    QMainWindow::keyPressEvent(event);
}

// ---------------------------------------------------------------- RunHost

QString Form1::drive() const {
    return Drive1->Drive();
}
int Form1::driveCheck(const QString &pathOnVolume) {
    DiskInfo1.setDriveLetter(pathOnVolume);
    return DiskInfo1.DriveCheck();
}
void Form1::showError(const QString &text) {
    if (state_.desktop)
        state_.desktop->messageBox(this, text, QStringLiteral("Arcsweep error"),
                                   MsgIcon::Exclamation);
}
void Form1::playSound(const QString &wavePath) {
    if (state_.desktop)
        state_.desktop->playSound(wavePath, false);
}
void Form1::setDrive(const QString &pathOnVolume) {
    Drive1->setDrive(pathOnVolume);
}
QString Form1::dirPath() const {
    return Dir1->Path();
}
bool Form1::setDirPath(const QString &path) {
    return Dir1->setPath(path);
}
void Form1::setFilePath(const QString &path) {
    File1->setPath(path);
}
void Form1::refreshFiles() {
    File1->Refresh();
}
int Form1::fileCount() const {
    return File1->ListCount();
}
QString Form1::fileName(int index) const {
    return File1->List(index);
}

void Form1::selectFile(int index, bool selected) {
    if (selected) {
        File1->setListIndex(index);
    } else if (QListWidgetItem *it = File1->item(index)) {
        const QSignalBlocker block(File1);
        it->setSelected(false);
    }
}

void Form1::clearEntries() {
    pendingEntries_.clear();
    unseenEntries_.clear();
    List1->clear();
}

void Form1::flushEntries() {
    if (pendingEntries_.isEmpty())
        return;
    // A listing's names go in at once: sorted together, not inserted one by one.
    QStringList names = std::exchange(pendingEntries_, {});
    std::sort(names.begin(), names.end());
    if (entriesUnseen_ ? unseenEntries_.isEmpty() : List1->count() == 0) {
        if (entriesUnseen_)
            unseenEntries_ = std::move(names);
        else
            List1->addItems(names);
        return;
    }
    for (const QString &name : std::as_const(names))
        insertEntry(name);
}

void Form1::addEntry(const QString &name) {
    flushEntries();
    insertEntry(name);
}

void Form1::insertEntry(const QString &name) {
    if (entriesUnseen_) {
        unseenEntries_.insert(std::lower_bound(unseenEntries_.begin(), unseenEntries_.end(), name) -
                                  unseenEntries_.begin(),
                              name);
        return;
    }
    // Sorted insert: one binary search instead of re-sorting the list per entry.
    int lo = 0, hi = List1->count();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (List1->item(mid)->text() < name)
            lo = mid + 1;
        else
            hi = mid;
    }
    List1->insertItem(lo, name);
}

int Form1::entryCount() const {
    const_cast<Form1 *>(this)->flushEntries();
    return entriesUnseen_ ? int(unseenEntries_.size()) : List1->count();
}
QString Form1::entry(int index) const {
    const_cast<Form1 *>(this)->flushEntries();
    if (entriesUnseen_)
        return unseenEntries_.value(index);
    const QListWidgetItem *it = List1->item(index);
    return it ? it->text() : QString();
}
void Form1::removeEntry(int index) {
    flushEntries();
    if (entriesUnseen_) {
        if (index >= 0 && index < unseenEntries_.size())
            unseenEntries_.removeAt(index);
        return;
    }
    delete List1->takeItem(index);
}

void Form1::selectEntry(int index, bool selected) {
    // The walk marks each entry it visits for whoever watches; a hidden window has
    // nobody watching, and the mark is taken away again before the walk goes on.
    if (!List1->isVisible())
        return;
    flushEntries();
    // By row: an item's own setSelected looks its row up again, which after the rows
    // above it moved means a search through the whole list.
    const QModelIndex row = List1->model()->index(index, 0);
    if (row.isValid()) {
        List1->selectionModel()->select(row, selected ? QItemSelectionModel::Select
                                                      : QItemSelectionModel::Deselect);
        if (selected && List1->isVisible())
            List1->scrollTo(row);
    }
}

void Form1::focusEntries() {
    List1->setFocus();
}
void Form1::setStatusCaption(const QString &text) {
    SSPanel1->setCaption(Fs::display(text));
}
void Form1::setProgressStyle(int style) {
    SSPanel2->setProgressStyle(style);
}
void Form1::setProgressCaption(const QString &text) {
    SSPanel2->setCaption(text);
}
int Form1::progressPercent() const {
    return SSPanel2->ProgressPercent();
}
void Form1::setProgressPercent(int percent) {
    SSPanel2->setProgressPercent(percent);
}
void Form1::setWindowCaption(const QString &text) {
    setWindowTitle(Fs::display(text));
}
void Form1::setProcessedText(const QString &text) {
    Label2->setText(text);
}
void Form1::setPurgedText(const QString &text) {
    Label3->setText(text);
}

void Form1::setRunLook(bool running) {
    AniIcon1->setVisible(running);
    Command2->setText(running ? QStringLiteral("&Abort") : QStringLiteral("&Clean all"));
    Command1->setEnabled(!running);
    setBusyPointer(running);
}

void Form1::setCleanButtonCaption(const QString &text) {
    Command2->setText(text);
}
void Form1::setErrorsMenuEnabled(bool enabled) {
    errors->setEnabled(enabled);
}
// The run's one yield point: the run's own yields and those inside a long archive both
// come here, and only here may a handler run inside a run (docs/reentrancy.md).
void Form1::yield() {
    QCoreApplication::processEvents();
}

void Form1::setBusyPointer(bool busy) {
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void Form1::Command2_Click() {
    run_->Command2_Click();
}

} // namespace arcsweep
