#pragma once

#include <atomic>

namespace arcsweep {

// Set by the stop signals' handler (SIGINT, SIGTERM, SIGHUP) the moment one arrives, before
// the event loop hears of it. A rewrite looks at it as it looks at Abort, so a signal that
// arrives while the new archive is being written or synced abandons it even when no event
// could run in between.
inline std::atomic<bool> stopSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

} // namespace arcsweep
