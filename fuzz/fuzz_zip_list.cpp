// Any bytes as an archive: listed, and when sound, purged of its first entry and listed again.
#include "target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace arcsweep::fuzz;
    abortOn(checkZipList(inputBytes(data, size), scratchFolder()));
    return 0;
}
