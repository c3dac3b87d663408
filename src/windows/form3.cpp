#include "windows/form3.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace arcsweep {

namespace {
// Twips to pixels at 96 dpi.
constexpr int px(int twips) {
    return twips / 15;
}

QFont displayFont(double points) {
    QFont font(QStringLiteral("URW Chancery L"));
    font.setStyleHint(QFont::Serif);
    font.setFamilies({QStringLiteral("URW Chancery L"), QStringLiteral("Z003"),
                      QStringLiteral("DejaVu Serif"), QStringLiteral("serif")});
    font.setItalic(true);
    font.setPointSizeF(points);
    return font;
}
} // namespace

QPixmap Form3::programIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A folder with a zipper, swept by a broom stroke.
    p.setPen(QPen(QColor(110, 70, 15), 1.2));
    p.setBrush(QColor(245, 205, 95));
    p.drawRoundedRect(QRectF(3, 8, 26, 20), 2, 2);
    p.drawRect(QRectF(3, 5, 10, 4));
    p.setPen(QPen(QColor(70, 70, 70), 2, Qt::DotLine));
    p.drawLine(QPointF(16, 10), QPointF(16, 26));
    p.setPen(QPen(QColor(30, 110, 200), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(6, 30), QPointF(28, 16));
    return pixmap;
}

Form3::Form3(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QString());
    setFixedSize(px(7200), px(5370));
    // A fixed dialog border without caption or buttons.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint);

    Label1 = new QLabel(QStringLiteral("Arcsweep"), this);
    Label1->setGeometry(px(180), px(180), px(2370) + 40, px(675) + 10);
    Label1->setFont(displayFont(27.75));
    Image1 = new QLabel(this);
    Image1->setGeometry(px(690), px(930), px(480), px(480));
    Image1->setPixmap(programIcon());
    Label2 = new QLabel(QStringLiteral("v1.63"), this);
    Label2->setGeometry(px(1275), px(1050), px(540) + 10, px(240));
    Label3 = new QLabel(QStringLiteral("swept clean"), this);
    Label3->setGeometry(width() - 200, px(4860) - 4, 190, px(480));
    Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label3->setFont(displayFont(20.25));
    for (QLabel *label : {Label1, Label2, Label3})
        label->setStyleSheet(QStringLiteral("color: #f4e6c0; background: transparent"));
}

void Form3::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (const QScreen *on = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QRect frame = frameGeometry();
        move(on->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
    }
}

void Form3::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0, QColor(22, 34, 70));
    sky.setColorAt(1, QColor(70, 30, 60));
    p.fillRect(rect(), sky);
    // Stacked archive boxes being swept into a neat pile.
    for (int i = 0; i < 6; ++i) {
        const QRectF box(200 + i * 28, 230 - i * 22, 90, 60);
        p.setPen(QPen(QColor(120, 80, 25), 1.5));
        p.setBrush(QColor(200 + i * 8, 160 + i * 6, 70));
        p.drawRoundedRect(box, 4, 4);
        p.setPen(QPen(QColor(60, 60, 60), 2, Qt::DotLine));
        p.drawLine(box.center() - QPointF(0, 25), box.center() + QPointF(0, 25));
    }
    QPainterPath arc;
    arc.moveTo(40, 320);
    arc.cubicTo(160, 240, 300, 330, 460, 250);
    p.setPen(QPen(QColor(90, 170, 255, 180), 6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
}

} // namespace arcsweep
