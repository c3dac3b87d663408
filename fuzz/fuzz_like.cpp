// A name and a Like pattern, one line each: the matcher against the reference.
#include "target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace arcsweep::fuzz;
    abortOn(checkLike(inputBytes(data, size)));
    return 0;
}
