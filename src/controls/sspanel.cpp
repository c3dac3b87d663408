#include "controls/sspanel.h"

#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedLayout>

namespace arcsweep {

SSPanel::SSPanel(QWidget *parent)
    : QFrame(parent), label_(new QLabel(this)), bar_(new QProgressBar(this)) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    auto *layout = new QStackedLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    label_->setAlignment(Qt::AlignCenter);
    label_->setTextFormat(Qt::PlainText);
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    layout->addWidget(label_);
    layout->addWidget(bar_);
}

QString SSPanel::Caption() const {
    return label_->text();
}

void SSPanel::setCaption(const QString &text) {
    label_->setText(text);
    setErrorMark(false);
}

void SSPanel::setProgressStyle(int style) {
    progressStyle_ = style;
    static_cast<QStackedLayout *>(layout())->setCurrentIndex(style == 1 ? 1 : 0);
}

void SSPanel::setProgressPercent(int percent) {
    percent_ = qBound(0, percent, 100);
    // QProgressBar repaints at once on every new value; let the next paint show it instead.
    bar_->setUpdatesEnabled(false);
    bar_->setValue(percent_);
    bar_->setUpdatesEnabled(true);
}

void SSPanel::setPicture(const QPixmap &picture) {
    label_->setPixmap(picture);
}

void SSPanel::setErrorMark(bool on) {
    errorMark_ = on;
    label_->setStyleSheet(on ? QStringLiteral("color: #c00000; font-weight: bold") : QString());
}

void SSPanel::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QFrame::mouseReleaseEvent(event);
}

} // namespace arcsweep
