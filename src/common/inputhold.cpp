#include "common/inputhold.h"

#include <QCoreApplication>

namespace arcsweep {

namespace {
// Drops input on its way to a widget (and shortcuts on their way to an action); the
// window itself still sees it, so the toolkit's idea of which buttons are down stays
// right.
class InputDrop : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override {
        const QEvent::Type type = event->type();
        return InputHold::isUserInput(type) &&
               (watched->isWidgetType() || type == QEvent::Shortcut);
    }
};
} // namespace

int InputHold::depth_ = 0;

InputHold::InputHold() {
    ++depth_;
}

InputHold::~InputHold() {
    if (--depth_ == 0)
        discardPendingInput();
}

bool InputHold::isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

void InputHold::discardPendingInput() {
    QCoreApplication *app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    // Everything queued so far is delivered now, the input among it to nobody. A
    // nested hold started by what runs here drains nothing of its own.
    InputDrop drop;
    app->installEventFilter(&drop);
    ++depth_;
    QCoreApplication::processEvents();
    --depth_;
    app->removeEventFilter(&drop);
}

} // namespace arcsweep
