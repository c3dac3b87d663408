// Any bytes as an archive, extracted whole into a new folder.
#include "target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace arcsweep::fuzz;
    abortOn(checkZipExtract(inputBytes(data, size), scratchFolder()));
    return 0;
}
