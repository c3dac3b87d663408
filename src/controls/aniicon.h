#pragma once

#include <QBasicTimer>
#include <QWidget>

namespace arcsweep {

// A small animated activity icon: a zip-folder glyph with a sweeping arc. Animates
// only while visible.
class AniIcon : public QWidget {
    Q_OBJECT
public:
    explicit AniIcon(QWidget *parent = nullptr);

signals:
    void Click();

protected:
    void paintEvent(QPaintEvent *) override;
    void timerEvent(QTimerEvent *event) override;
    void showEvent(QShowEvent *) override;
    void hideEvent(QHideEvent *) override;
    void mouseReleaseEvent(QMouseEvent *) override;

private:
    QBasicTimer timer_;
    int frame_ = 0;
};

} // namespace arcsweep
