#pragma once

#include <QFrame>

class QLabel;
class QProgressBar;

namespace arcsweep {

// A sunken 3-D panel that shows either its caption or a progress bar.
class SSPanel : public QFrame {
    Q_OBJECT
public:
    explicit SSPanel(QWidget *parent = nullptr);

    QString Caption() const;
    void setCaption(const QString &text);
    int ProgressStyle() const { return progressStyle_; }
    void setProgressStyle(int style); // 0 caption, 1 progress bar
    int ProgressPercent() const { return percent_; }
    void setProgressPercent(int percent);
    // Marks the panel as showing an error (red caption); cleared by the next caption.
    void setErrorMark(bool on);
    // Shows a picture instead of the caption (the logo panel).
    void setPicture(const QPixmap &picture);
    bool errorMark() const { return errorMark_; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QLabel *label_;
    QProgressBar *bar_;
    int progressStyle_ = 0;
    int percent_ = 0;
    bool errorMark_ = false;
};

} // namespace arcsweep
