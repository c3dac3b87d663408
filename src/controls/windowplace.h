#pragma once

class QWidget;

namespace arcsweep {

// Where a window opens: inside the available area of its screen (panels left out),
// so that its frame, scroll bars and buttons can all be reached at any scale.
class WindowPlace {
public:
    // Shrinks a window larger than that area (down to its minimum size, frame
    // included as far as it is known) and moves it inside.
    static void fitToScreen(QWidget *window);
    // Centres `window` over `over` (over the screen when null), then fits it.
    static void centreOver(QWidget *window, const QWidget *over);
};

} // namespace arcsweep
