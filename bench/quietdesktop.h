#pragma once

#include "controls/desktopservices.h"

namespace arcsweep::bench {

// Never shows a box, opens nothing, plays nothing: the benchmarks measure the run.
class QuietDesktop : public DesktopServices {
public:
    void playSound(const QString &, bool) override {}

protected:
    MsgAnswer showMessageBox(QWidget *, const QString &, const QString &, MsgIcon,
                             MsgButtons) override {
        return MsgAnswer::Ok;
    }
    void launch(const QUrl &, std::function<void()>) override {}
};

} // namespace arcsweep::bench
