#include "shell/windowloss.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <xcb/xcb.h>

namespace arcsweep {

WindowLoss::WindowLoss(std::function<void(QWidget *)> lost, QObject *parent)
    : QObject(parent), lost_(std::move(lost)) {
    QCoreApplication::instance()->installEventFilter(this);
}

WindowLoss::~WindowLoss() {
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool WindowLoss::isGone(QWindow *window) {
    if (window == nullptr || window->handle() == nullptr)
        return false;
    // Only X11 lets another client take a window away; elsewhere a window that goes
    // is closed through its close event.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr)
        return false;
    xcb_connection_t *connection = x11->connection();
    xcb_generic_error_t *error = nullptr;
    std::free(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, xcb_window_t(window->winId())), &error));
    const bool gone = error != nullptr && error->error_code == XCB_WINDOW;
    std::free(error);
    return gone;
}

bool WindowLoss::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::Expose || !watched->isWindowType())
        return false;
    auto *window = static_cast<QWindow *>(watched);
    if (window->isExposed() || window->parent() != nullptr)
        return false;
    // Asked after the expose is handled: the toolkit's own reply to it comes first.
    QMetaObject::invokeMethod(
        this,
        [this, window = QPointer<QWindow>(window)] {
            if (!isGone(window))
                return;
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (widget->windowHandle() == window) {
                    lost_(widget);
                    return;
                }
        },
        Qt::QueuedConnection);
    return false;
}

} // namespace arcsweep
