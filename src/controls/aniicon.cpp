#include "controls/aniicon.h"

#include <QPainter>
#include <QTimerEvent>

namespace arcsweep {

AniIcon::AniIcon(QWidget *parent) : QWidget(parent) {
    setFixedSize(32, 32);
}

void AniIcon::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(3, 3, -3, -3);
    // Folder body with a zipper down the middle.
    p.setPen(QPen(QColor(120, 80, 20), 1.2));
    p.setBrush(QColor(240, 200, 90));
    p.drawRoundedRect(box.adjusted(2, 6, -2, -2), 2, 2);
    p.setPen(QPen(QColor(90, 90, 90), 1.5, Qt::DotLine));
    p.drawLine(QPointF(box.center().x(), box.top() + 7),
               QPointF(box.center().x(), box.bottom() - 3));
    // Sweeping arc: one turn every 12 frames.
    p.setPen(QPen(QColor(30, 110, 200), 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(box, -frame_ * 30 * 16, 100 * 16);
}

void AniIcon::timerEvent(QTimerEvent *event) {
    if (event->timerId() != timer_.timerId())
        return;
    frame_ = (frame_ + 1) % 12;
    update();
}

void AniIcon::showEvent(QShowEvent *) {
    timer_.start(120, this);
}
void AniIcon::hideEvent(QHideEvent *) {
    timer_.stop();
}

void AniIcon::mouseReleaseEvent(QMouseEvent *) {
    emit Click();
}

} // namespace arcsweep
