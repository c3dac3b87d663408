#pragma once

// A virtual X display (Xvfb) with a window manager (openbox, when installed) for
// tests that need what only a real display does: windows that another X client can
// take away. The test's own X connection plays that other client.

#include "capture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace arcsweep::test {

class VirtualDisplay {
public:
    VirtualDisplay() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return;
        int number = 90;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
               QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            ++number;
        name_ = QStringLiteral(":%1").arg(number);
        server_.start(xvfb, {name_, QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                             QStringLiteral("tcp")});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (!waitUntil([&] { return QFile::exists(socket); }))
            return;
        connection_ = xcb_connect(name_.toLocal8Bit().constData(), nullptr);
        if (xcb_connection_has_error(connection_))
            return;
        const QString wm = QStandardPaths::findExecutable(QStringLiteral("openbox"));
        if (!wm.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), name_);
            manager_.setProcessEnvironment(env);
            manager_.start(wm, {});
            // Managing: the window manager owns the screen's WM_S0 selection.
            const xcb_atom_t wmS0 = atom("WM_S0");
            waitUntil([&] {
                std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
                    xcb_get_selection_owner_reply(
                        connection_, xcb_get_selection_owner(connection_, wmS0), nullptr),
                    &std::free);
                return owner && owner->owner != XCB_NONE;
            });
        }
        up_ = true;
    }
    ~VirtualDisplay() {
        if (connection_)
            xcb_disconnect(connection_);
        for (QProcess *p : {&manager_, &server_})
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(5000))
                    p->kill();
                p->waitForFinished(5000);
            }
    }
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    bool up() const { return up_; }
    const QString &name() const { return name_; }
    xcb_connection_t *connection() const { return connection_; }

    // A mapped window below the root whose WM_NAME is `title`, or XCB_NONE.
    xcb_window_t findWindow(const QByteArray &title) {
        return findBelow(xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root, title);
    }

    // What a window manager that destroys a client's window does.
    void destroyWindow(xcb_window_t window) {
        xcb_destroy_window(connection_, window);
        xcb_flush(connection_);
    }

private:
    xcb_atom_t atom(const char *name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection_,
                                  xcb_intern_atom(connection_, 0, uint16_t(strlen(name)), name),
                                  nullptr),
            &std::free);
        return reply ? reply->atom : XCB_NONE;
    }
    xcb_window_t findBelow(xcb_window_t parent, const QByteArray &title) {
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, parent), nullptr),
            &std::free);
        if (!tree)
            return XCB_NONE;
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> name(
                xcb_get_property_reply(connection_,
                                       xcb_get_property(connection_, 0, children[i],
                                                        XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY,
                                                        0, 256),
                                       nullptr),
                &std::free);
            std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
                xcb_get_window_attributes_reply(
                    connection_, xcb_get_window_attributes(connection_, children[i]), nullptr),
                &std::free);
            if (name && attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                QByteArray(static_cast<const char *>(xcb_get_property_value(name.get())),
                           xcb_get_property_value_length(name.get())) == title)
                return children[i];
            if (const xcb_window_t found = findBelow(children[i], title))
                return found;
        }
        return XCB_NONE;
    }

    QString name_;
    QProcess server_, manager_;
    xcb_connection_t *connection_ = nullptr;
    bool up_ = false;
};

} // namespace arcsweep::test
