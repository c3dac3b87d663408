#include "engine/yielder.h"

#include "engine/runhost.h"

namespace arcsweep {

void Yielder::now() {
    QElapsedTimer spent;
    spent.start();
    host_.yield();
    nanos_ += spent.nsecsElapsed();
    ++count_;
    last_.start();
}

} // namespace arcsweep
