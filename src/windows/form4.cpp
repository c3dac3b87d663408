#include "windows/form4.h"

#include "common/appstate.h"
#include "controls/desktopservices.h"
#include "controls/aniicon.h"
#include "controls/sspanel.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace arcsweep {

namespace {

// The window's places are given in twips: 15 to a pixel at 96 dpi.
int px(int twips) {
    return int(std::lround(twips / 15.0));
}

QRect place(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

QLabel *makeLabel(QWidget *parent, const QString &caption, const QRect &rect) {
    auto *label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rect);
    return label;
}

QPushButton *makeButton(QWidget *parent, const QString &caption, const QRect &rect) {
    auto *button = new QPushButton(caption, parent);
    button->setGeometry(rect);
    return button;
}

QFrame *makeLine(QWidget *parent, const QRect &rect, QFrame::Shape shape) {
    auto *line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(rect);
    return line;
}

} // namespace

Form4::Form4(AppState &state, QWidget *mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint), state_(state),
      main_(mainWindow) {
    setWindowTitle(QStringLiteral("Arcsweep stats"));
    setFixedSize(px(5370), px(3945));
    setAttribute(Qt::WA_DeleteOnClose);
    // The main window's close alone ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    Frame1 = new QGroupBox(QStringLiteral("Path cleaned"), this);
    Frame1->setGeometry(place(105, 90, 3825, 480));
    // Fonts derived from the window's own: a named face missing here would be replaced
    // by whatever fontconfig offers for it, a symbol font included.
    QFont bold = font();
    bold.setBold(true);
    Frame1->setFont(bold);
    Frame2 = new QGroupBox(this);
    Frame2->setGeometry(place(105, 570, 3825, 1515));
    Frame3 = new QGroupBox(this);
    Frame3->setGeometry(place(105, 2085, 3825, 975));
    Frame4 = new QGroupBox(this);
    Frame4->setGeometry(place(105, 3060, 3825, 750));

    Label7 = makeLabel(Frame1, QStringLiteral("Dir"), place(240, 210, 3435, 210));
    // The frame's bold caption font is not the path's. (The window's own font as it is
    // would count as unset and be inherited from the frame: its weight is set.)
    QFont plain = font();
    plain.setBold(false);
    Label7->setFont(plain);
    // The path sits below the frame's title, inside its border. This style's title takes
    // more height than the designed frame leaves for it: the frame grows upward, its
    // bottom (and the frames below) where they were.
    const QMargins margins = Frame1->contentsMargins();
    const int needed = margins.top() + Label7->fontMetrics().height() + margins.bottom();
    if (Frame1->height() < needed) {
        const int bottom = Frame1->geometry().bottom() + 1;
        Frame1->setGeometry(Frame1->x(), std::max(0, bottom - needed), Frame1->width(),
                            std::min(needed, bottom));
    }
    const QRect inside = Frame1->contentsRect();
    Label7->setGeometry(Label7->x(), inside.top(),
                        std::min(Label7->width(), inside.right() + 1 - Label7->x()),
                        inside.height());
    Label1 = makeLabel(Frame2, QStringLiteral("zips total"), place(225, 195, 3390, 195));
    Label8 = makeLabel(Frame2, QStringLiteral("bytes"), place(225, 450, 3450, 195));
    Label12 = makeLabel(Frame2, QStringLiteral("total bytes"), place(225, 705, 3465, 195));
    Label9 = makeLabel(Frame2, QStringLiteral("purged bytes"), place(225, 945, 3465, 195));
    Label13 = makeLabel(Frame2, QStringLiteral("total bytes purged"), place(225, 1200, 3405, 195));
    Label2 = makeLabel(Frame3, QStringLiteral("in purge.txt"), place(225, 195, 3435, 195));
    Label6 = makeLabel(Frame3, QStringLiteral("cleaned zips"), place(225, 435, 3390, 195));
    Label3 = makeLabel(Frame3, QStringLiteral("purged out"), place(225, 675, 3405, 195));
    Label4 = makeLabel(Frame4, QStringLiteral("double diz"), place(225, 180, 3405, 195));
    Label5 = makeLabel(Frame4, QStringLiteral("bad zips"), place(225, 435, 3465, 195));
    Label11 = makeLabel(this, QString(), place(4200, 1470, 915, 450));
    Label11->setAlignment(Qt::AlignCenter);

    Command1 = makeButton(this, QStringLiteral("E&xit"), place(4200, 3435, 930, 345));
    Command2 = makeButton(this, QStringLiteral("&Error log"), place(4200, 2805, 930, 345));
    Command3 = makeButton(this, QStringLiteral("&Verify"), place(4200, 2160, 930, 345));
    Command4 = makeButton(this, QString(), place(2955, 4725, 960, 375));
    // Exit comes first in the tab order.
    setTabOrder(Command1, Command3);
    setTabOrder(Command3, Command2);
    setTabOrder(Command2, Command4);

    AniIcon1 = new AniIcon(this);
    AniIcon1->move(px(4350) + (px(540) - AniIcon1->width()) / 2,
                   px(135) + (px(540) - AniIcon1->height()) / 2);
    SSPanel1 = new SSPanel(this);
    SSPanel1->setGeometry(place(4215, 825, 840, 375));
    SSPanel1->setCaption(QStringLiteral("AS"));
    QFont mark = font();
    mark.setPointSize(12);
    mark.setBold(true);
    mark.setItalic(true);
    SSPanel1->setFont(mark);

    Line1 = makeLine(this, place(4080, 2085, 15, 1725), QFrame::VLine);
    Line2 = makeLine(this, place(4095, 2655, 1140, 15), QFrame::HLine);
    Line3 = makeLine(this, place(4095, 3300, 1140, 15), QFrame::HLine);
    Line4 = makeLine(this, place(4095, 1335, 1140, 15), QFrame::HLine);

    // Long figures and paths can be read whole in the tool tip of these labels.
    for (QLabel *label : {Label7, Label9, Label12, Label13}) {
        label->setMouseTracking(true);
        label->installEventFilter(this);
    }

    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form4::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form4::Command3_Click);
    connect(AniIcon1, &AniIcon::Click, this, &Form4::AniIcon1_Click);
}

Form4::~Form4() = default;

void Form4::Form_Load() {
    show();
    repaint();
    if (state_.Totals.BadZips == 0)
        Command2->setEnabled(false);
    Command4->setFocus();
    state_.VerifyMode = true;
}

void Form4::Command1_Click() {
    Command4->setFocus();
    close(); // closeEvent does the rest, as for a close by the window manager
}

void Form4::closeEvent(QCloseEvent *event) {
    event->accept();
    if (left_)
        return;
    left_ = true;
    state_.VerifyMode = false;
    Form_Unload();
    restoreMainWindow();
    if (mainFocus_)
        mainFocus_->setFocus();
    state_.StatsWaiting = false;
}

void Form4::Form_Unload() {
    restoreMainWindow();
    state_.AbortRequested = false;
}

void Form4::restoreMainWindow() {
    if (!main_)
        return;
    main_->setWindowState(Qt::WindowNoState);
    main_->setEnabled(true);
    main_->activateWindow();
}

void Form4::Command2_Click() {
    Command4->setFocus();
    if (!state_.desktop)
        return;
    const QString path = state_.file(DataFile::ErrorLog);
    state_.desktop->open(QUrl::fromLocalFile(path), this);
}

void Form4::Command3_Click() {
    Command4->setFocus();
    state_.VerifyMode = true;
    setEnabled(false);
    emit verifyRequested();
}

void Form4::AniIcon1_Click() {
    if (state_.desktop)
        state_.desktop->playSound(state_.file(DataFile::HelloWave), false);
}

bool Form4::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseMove) {
        if (auto *label = qobject_cast<QLabel *>(watched))
            label->setToolTip(label->text());
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace arcsweep
