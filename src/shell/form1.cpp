#include "shell/form1.h"

#include "common/damagedarchiverule.h"
#include "common/desktopservices.h"
#include "common/like.h"
#include "common/numbertext.h"
#include "common/purgelistadd.h"
#include "common/selectedentries.h"
#include "common/textfile.h"
#include "components/aniicon.h"
#include "components/dirlistbox.h"
#include "components/drivelistbox.h"
#include "components/filelistbox.h"
#include "components/sspanel.h"
#include "engine/cleanrun.h"
#include "shell/form1_view.h"
#include "shell/singleinstance.h"
#include "windows/form3.h"
#include "windows/form4.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace arcsweep {

namespace {
// Twips to pixels at 96 dpi.
constexpr int px(int twips) {
    return twips / 15;
}
const QString ErrorMarker = QStringLiteral("         --> Error! <--");

// Adds the owner's write bit: the counterpart of clearing a file's attributes.
void makeWritable(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        ::chmod(name.constData(), st.st_mode | S_IWUSR);
}

// Deletes the first regular file of `folder` matching `pattern` that can be deleted;
// files that cannot be deleted are skipped. Returns false when none was deleted.
bool deleteFirstFile(const QString &folder, const QString &pattern, QStringList *skip = nullptr) {
    const QStringList names =
        QDir(folder).entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &name : names) {
        const QString path = folder + u'/' + name;
        if (skip && skip->contains(path))
            continue;
        makeWritable(path);
        if (QFile::remove(path))
            return true;
        if (skip)
            skip->append(path);
        else
            return false;
    }
    return false;
}
} // namespace

Form1::Form1(AppState &state, QWidget *parent)
    : QMainWindow(parent), state_(state), run_(std::make_unique<CleanRun>(*this)) {
    buildControls();
    buildMenus();
    setWindowTitle(QStringLiteral("Arcsweep"));
    setWindowIcon(Form3::programIcon());

    // The folder lists start where the program was started.
    Dir1->setPath(QDir::currentPath());
    Drive1->setDrive(QDir::currentPath());
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

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
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

// ---------------------------------------------------------------- start-up, shutdown

bool Form1::Form_Load(SingleInstance *instance, Form3 *splash) {
    splash_ = splash;
    // 1. Never from a volume's root: the data files would land there.
    if (state_.AppFolder.isEmpty() || state_.AppFolder == u"/") {
        state_.desktop->messageBox(this,
                                   QStringLiteral("Arcsweep can NOT be run from a root directory"),
                                   QStringLiteral("Error"), MsgIcon::Critical, MsgButtons::Ok);
        unloaded_ = true;
        exitCode_ = 1;
        return false;
    }
    // 2. One instance: a later one hands over to the first and ends.
    if (instance && !instance->isFirst()) {
        if (state_.unattended())
            std::fprintf(stderr,
                         "Arcsweep is already running from this folder; nothing was cleaned.\n");
        else
            instance->activateFirst();
        unloaded_ = true;
        exitCode_ = state_.unattended() ? 3 : 0;
        return false;
    }
    if (instance)
        connect(instance, &SingleInstance::activateRequested, this, [this] {
            if (isMinimized())
                showNormal();
            show();
            raise();
            activateWindow();
        });

    // 3.
    if (splash_)
        splash_->hide();
    QCoreApplication::processEvents();
    show();
    QCoreApplication::processEvents();
    setBusyPointer(true);

    // 4. The last folder, when it still exists.
    const QString settings = state_.file(DataFile::Settings);
    if (QFileInfo(settings).isFile()) {
        const QStringList lines = TextFile::readLines(settings, 1);
        const QStringList fields =
            lines.isEmpty() ? QStringList() : NumberText::delimitedFields(lines.first(), 1);
        const QString folder = fields.value(0);
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
            Drive1->setDrive(folder);
            Dir1->setPath(folder);
            File1->setPath(folder);
        }
    }
    // 5, 6.
    setBusyPointer(false);
    if (File1->ListCount() >= 1)
        File1->setListIndex(0);
    // 7. A purge-list update that was interrupted is dropped, not merged.
    QFile::remove(state_.file(DataFile::PurgeStaging));
    // 8. One leftover file of the TempFolder.
    deleteFirstFile(state_.tempFolder(), QStringLiteral("*"));
    // 9. Unattended run, then close.
    if (state_.unattended())
        startUnattendedRun();
    return !unloaded_;
}

void Form1::startUnattendedRun() {
    QCoreApplication::processEvents();
    Command2_Click();
    exitCode_ = run_->exitStatus();
    requestClose();
}

void Form1::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    // 1. The folder for next time.
    TextFile::writeLines(state_.file(DataFile::Settings), {Dir1->Path()});
    // 2. One ".diz" of the TempFolder; 3. every ".nfo", each tried once.
    const QString temp = state_.tempFolder();
    deleteFirstFile(temp, QStringLiteral("*.diz"));
    QStringList skipped;
    while (deleteFirstFile(temp, QStringLiteral("*.nfo"), &skipped)) {
    }
    // 4, 5. The last run's logs.
    QFile::remove(state_.file(DataFile::ErrorLog));
    QFile::remove(state_.file(DataFile::VerifyList));
}

void Form1::requestClose() {
    state_.Running = false;
    state_.AbortRequested = true;
    XceedZip1->Abort = true;
    Form_Unload();
    // Every window goes; the program ends once an interrupted run has unwound.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != this)
            w->hide();
    hide();
    if (!closing_) {
        closing_ = true;
        QCoreApplication::exit(exitCode_);
    }
}

void Form1::closeEvent(QCloseEvent *event) {
    event->ignore(); // the window is hidden, never destroyed inside a nested yield
    requestClose();
}

void Form1::Command3_Click() {
    state_.Running = false;
    XceedZip1->Abort = true;
    state_.AbortRequested = true;
    requestClose();
}

void Form1::exit_Click() {
    state_.Running = false;
    XceedZip1->Abort = true;
    requestClose();
}

void Form1::exit2_Click() {
    requestClose();
}

// ---------------------------------------------------------------- browser

void Form1::Drive1_Change() {
    static bool fallingBack = false;
    if (Dir1->setPath(Drive1->Drive()))
        return;
    // A volume that cannot be read: back to the root volume, once.
    if (fallingBack)
        return;
    fallingBack = true;
    Drive1->setDrive(QStringLiteral("/"));
    Dir1->setPath(QStringLiteral("/"));
    fallingBack = false;
}

void Form1::Dir1_Change() {
    if (state_.AbortRequested)
        return;
    List1->clear();
    File1->setPath(Dir1->Path());
    if (File1->ListCount() >= 1)
        File1->setListIndex(0);
}

void Form1::File1_Click() {
    state_.VerifyMode = false;
    if (state_.Running)
        return;
    const QString name = File1->FileName();
    if (name.isEmpty())
        return;
    SSPanel1->setCaption(name.toLower());
    ArchiveTest();
}

void Form1::List1_MouseDown(Qt::MouseButton button, const QPoint &globalPos) {
    if (!state_.Running && button == Qt::RightButton)
        menu->popup(globalPos);
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress) {
        Form_KeyDown(static_cast<QKeyEvent *>(event)->key());
        return false; // the key still reaches the focused control
    }
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

void Form1::Form_KeyDown(int key) {
    switch (key) {
    case Qt::Key_Escape:
        if (state_.Running) {
            state_.AbortRequested = true;
            state_.Running = false;
            XceedZip1->Abort = true;
        }
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (!state_.Running)
            ArchiveTest();
        break;
    case Qt::Key_Delete:
        if (!state_.Running)
            DeleteSelectedEntry();
        break;
    case Qt::Key_F1:
        contents_Click();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- archive test, delete, add

QString Form1::currentFolderOf(const QString &dirPath) const {
    QString folder = dirPath;
    while (folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

void Form1::ArchiveTest() {
    state_.CurrentFolder = currentFolderOf(Dir1->Path());
    const QString folder =
        state_.CurrentFolder.isEmpty() ? QStringLiteral("/") : state_.CurrentFolder;
    if (QDir(folder).entryList({QStringLiteral("*.zip")}, QDir::Files).isEmpty())
        return;
    List1->clear();
    const QString name = File1->FileName();
    if (name.isEmpty())
        return; // nothing selected: no component call, the list stays empty
    state_.ActiveArchive = state_.CurrentFolder + u'/' + name;

    XceedZip1->Flag10 = false;
    XceedZip1->EntrySpec = QStringLiteral("*.*");
    XceedZip1->ArchivePath = state_.ActiveArchive;
    const int result = XceedZip1->ListEntries();
    if (isDamageCode(result)) {
        DamagedArchiveRule rule;
        rule.report = [this](const QString &lowerPath) {
            if (!state_.Running && !state_.unattended())
                state_.desktop->messageBox(this, QStringLiteral("CRC error in - ") + lowerPath,
                                           QStringLiteral("Arcsweep error"), MsgIcon::Critical);
        };
        rule.mayRename = [this](const QString &path) {
            DiskInfo1.setDriveLetter(path);
            return DiskInfo1.DriveCheck() > 2;
        };
        rule.apply(state_.ActiveArchive);
        File1->Refresh();
    } else if (result != ZipOk) {
        addEntry(ErrorMarker);
    }
}

void Form1::DeleteSelectedEntry() {
    setBusyPointer(true);
    const QString name = File1->FileName();
    if (name.isEmpty()) {
        setBusyPointer(false);
        return;
    }
    state_.CurrentFolder = currentFolderOf(Dir1->Path());
    for (int i = 0; i < File1->ListCount(); ++i)
        makeWritable(state_.CurrentFolder + u'/' + File1->List(i));
    for (int k = 0; k < List1->count(); ++k) {
        if (!List1->item(k)->isSelected())
            continue;
        XceedZip1->Flag10 = false;
        XceedZip1->EntrySpec = likeLiteral(List1->item(k)->text());
        XceedZip1->ArchivePath = state_.CurrentFolder + u'/' + name;
        const int result = XceedZip1->DeleteEntries();
        if (isDamageCode(result)) {
            setBusyPointer(false);
            state_.desktop->messageBox(this,
                                       QStringLiteral("CRC error in ") +
                                           (state_.CurrentFolder + u'/' + name).toLower(),
                                       QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
            return;
        }
        break; // only the first selected entry
    }
    ArchiveTest();
    setBusyPointer(false);
}

void Form1::Command1_Click() {
    AddToPurgeList();
}

void Form1::AddToPurgeList() {
    if (!PurgeListAdd::purgeListExists(state_)) {
        state_.desktop->messageBox(this, QStringLiteral("No purge list exists"),
                                   QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
        return;
    }
    setBusyPointer(true);
    const QString name = File1->FileName();
    state_.CurrentFolder = currentFolderOf(Dir1->Path());
    const QString archive = state_.CurrentFolder + u'/' + name;

    const SelectedEntries selected = SelectedEntries::of(List1);
    qsizetype current = 0;
    PurgeListAdd::Hooks hooks;
    hooks.handled = [this](const QString &entry, bool isNew) {
        SSPanel2->setProgressStyle(0);
        SSPanel2->setCaption(isNew ? entry + QStringLiteral(" added") : QString());
    };
    hooks.deleteEntry = [&](const QString &entry) {
        if (!name.isEmpty()) {
            XceedZip1->EntrySpec = likeLiteral(entry);
            XceedZip1->ArchivePath = archive;
            XceedZip1->DeleteEntries();
        }
        selected.deselect(List1, current++);
    };
    hooks.yield = [] { QCoreApplication::processEvents(); };
    QString error;
    const auto outcome = PurgeListAdd::run(state_, selected.names, hooks, &error);
    if (outcome == PurgeListAdd::Failed) {
        setBusyPointer(false);
        state_.desktop->messageBox(this, error, QStringLiteral("Arcsweep error"),
                                   MsgIcon::Exclamation);
        setBusyPointer(true);
    }
    ArchiveTest();
    setBusyPointer(false);
}

void Form1::XceedZip1_Listing(const ZipEntryInfo &entry) {
    addEntry(entry.FileName.toLower());
}

void Form1::XceedZip1_Status(int completion) {
    SSPanel2->setProgressStyle(1);
    if (completion != SSPanel2->ProgressPercent())
        SSPanel2->setProgressPercent(completion);
    // During a run, input (Abort, Esc, Exit) must reach the inside of a long archive.
    if (state_.Running) {
        static QElapsedTimer sinceYield;
        if (!sinceYield.isValid() || sinceYield.elapsed() >= 40) {
            QCoreApplication::processEvents();
            sinceYield.restart();
        }
    }
}

// ---------------------------------------------------------------- menu commands

void Form1::openInEditor(const QString &path) {
    state_.desktop->open(QUrl::fromLocalFile(path));
}

void Form1::vpurge_Click() {
    const QString path = state_.file(DataFile::PurgeList);
    if (QFileInfo(path).isFile())
        openInEditor(path);
}

void Form1::log_Click() {
    const QString path = state_.file(DataFile::StatsLog);
    if (QFileInfo(path).isFile())
        openInEditor(path);
}

void Form1::dslog_Click() {
    const QString path = state_.file(DataFile::StatsLog);
    if (!QFileInfo(path).isFile())
        return;
    if (state_.desktop->messageBox(this, QStringLiteral("Delete status log?"),
                                   QStringLiteral("Arcsweep"), MsgIcon::Question,
                                   MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    QFile file(path);
    if (!file.remove())
        state_.desktop->messageBox(
            this, QStringLiteral("Cannot delete %1: %2").arg(path, file.errorString()),
            QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
}

void Form1::errors_Click() {
    openInEditor(state_.file(DataFile::ErrorLog));
}

void Form1::contents_Click() {
    openInEditor(state_.file(DataFile::HelpPage));
}

void Form1::web_Click() {
    state_.desktop->open(QUrl(QStringLiteral("https://arcsweep.org/")));
}

void Form1::about_Click() {
    if (!splash_)
        splash_ = new Form3(this);
    splash_->show();
    splash_->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    state_.desktop->playSound(state_.file(DataFile::ThunderWave), true);
    if (splash_)
        splash_->hide();
}

// ---------------------------------------------------------------- RunHost

QString Form1::drive() const {
    return Drive1->Drive();
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
    List1->clear();
}

void Form1::addEntry(const QString &name) {
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
    return List1->count();
}
QString Form1::entry(int index) const {
    const QListWidgetItem *it = List1->item(index);
    return it ? it->text() : QString();
}
void Form1::removeEntry(int index) {
    delete List1->takeItem(index);
}

void Form1::selectEntry(int index, bool selected) {
    if (QListWidgetItem *it = List1->item(index)) {
        it->setSelected(selected);
        if (selected)
            List1->scrollToItem(it);
    }
}

void Form1::focusEntries() {
    List1->setFocus();
}
void Form1::setStatusCaption(const QString &text) {
    SSPanel1->setCaption(text);
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
    setWindowTitle(text);
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
