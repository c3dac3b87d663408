#pragma once

#include <QEvent>

namespace arcsweep {

// Marks an operation that lets no input in (a long archive test outside a run, a
// rewrite, a sound played to its end). Mouse and key input given meanwhile waits in
// the window system's queues; when the outermost hold ends, that input is taken out
// of the queues and dropped, so it never acts on what the windows show afterwards
// (a click aimed at one archive's entries must not select the next one's). Paints,
// closes and every other event are delivered as usual.
class InputHold {
public:
    InputHold();
    ~InputHold();
    InputHold(const InputHold &) = delete;
    InputHold &operator=(const InputHold &) = delete;

    // Mouse, key, wheel, touch and tablet input, and what the toolkit makes of it
    // (shortcuts, context menus).
    static bool isUserInput(QEvent::Type type);

private:
    static void discardPendingInput();
    static int depth_;
};

} // namespace arcsweep
