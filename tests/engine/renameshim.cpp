// Loaded into the program under test (LD_PRELOAD): another program's move of a file to
// the archive's path, made in the last instant before the rewrite's exchange of names.
// ARCSWEEP_SWAP_IN names the file moved there, ARCSWEEP_SWAP_AT the archive's real path.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>

extern "C" int renameat2(int oldDir, const char *oldPath, int newDir, const char *newPath,
                         unsigned int flags) {
    using Real = int (*)(int, const char *, int, const char *, unsigned int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "renameat2"));
    static bool moved = false;
    const char *in = std::getenv("ARCSWEEP_SWAP_IN");
    const char *at = std::getenv("ARCSWEEP_SWAP_AT");
    if (!moved && (flags & RENAME_EXCHANGE) && in && at && std::strcmp(newPath, at) == 0) {
        moved = true;
        std::rename(in, at);
    }
    return real(oldDir, oldPath, newDir, newPath, flags);
}
