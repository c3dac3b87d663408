#pragma once

#include <QObject>

#include <functional>

class QWidget;
class QWindow;

namespace arcsweep {

// Notices a top-level window whose platform window went away from outside: a window
// manager that destroys an X11 window instead of asking it to close sends no close
// event; the toolkit only sees the window unmapped, as when it is minimised. Each
// window that stops being exposed is asked after; one that no longer exists is
// reported, once the events that came with its loss have run.
class WindowLoss : public QObject {
    Q_OBJECT
public:
    explicit WindowLoss(std::function<void(QWidget *)> lost, QObject *parent = nullptr);
    ~WindowLoss() override;

    // True when the window had a platform window that no longer exists.
    static bool isGone(QWindow *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void(QWidget *)> lost_;
};

} // namespace arcsweep
