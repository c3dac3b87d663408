#include "controls/windowplace.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace arcsweep {

namespace {
QScreen *screenOf(const QWidget *window) {
    QScreen *screen = window->screen();
    return screen ? screen : QGuiApplication::primaryScreen();
}
} // namespace

void WindowPlace::fitToScreen(QWidget *window) {
    const QScreen *screen = screenOf(window);
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    QSize frame = window->frameGeometry().size() - window->size();
    if (frame.isNull() && !(window->windowFlags() & Qt::FramelessWindowHint)) {
        // Not framed yet (the window manager frames a window after it is shown): room for
        // a usual border and title bar.
        const QStyle *style = window->style();
        const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
        frame = QSize(2 * border,
                      style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window) + 2 * border);
    }
    const QSize fitting =
        window->size().boundedTo(area.size() - frame).expandedTo(window->minimumSize());
    if (fitting != window->size() && !window->isMaximized())
        window->resize(fitting);
    const QRect outer = window->frameGeometry();
    const int x = std::max(area.left(), std::min(outer.left(), area.right() + 1 - outer.width()));
    const int y = std::max(area.top(), std::min(outer.top(), area.bottom() + 1 - outer.height()));
    if (QPoint(x, y) != outer.topLeft())
        window->move(x, y);
}

void WindowPlace::centreOver(QWidget *window, const QWidget *over) {
    const QScreen *screen = screenOf(over ? over : window);
    if (screen == nullptr)
        return;
    const QPoint centre =
        over ? over->frameGeometry().center() : screen->availableGeometry().center();
    const QRect outer = window->frameGeometry();
    window->move(centre - QPoint(outer.width() / 2, outer.height() / 2));
    fitToScreen(window);
}

} // namespace arcsweep
