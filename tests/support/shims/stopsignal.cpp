// Preloaded into the built program by the signal tests: sends the process SIGTERM at
// the moment ARCSWEEP_SIGTERM_AT names and says so on standard error.
//   start  when the program first reads the path of its own executable, the first
//          thing main() does after it installs its handlers
//   end    after main() has returned and the libraries are being unloaded
#include <dlfcn.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

bool at(const char *moment) {
    const char *wanted = std::getenv("ARCSWEEP_SIGTERM_AT");
    return wanted != nullptr && std::strcmp(wanted, moment) == 0;
}

void sendTerm(const char *note) {
    (void)!::write(2, note, std::strlen(note));
    ::raise(SIGTERM);
}

bool sentAtStart = false;

__attribute__((destructor)) void atEnd() {
    if (at("end"))
        sendTerm("stop-signal shim: SIGTERM at the end\n");
}

} // namespace

extern "C" ssize_t readlink(const char *path, char *buffer, size_t size) {
    using Readlink = ssize_t (*)(const char *, char *, size_t);
    static const auto real = reinterpret_cast<Readlink>(::dlsym(RTLD_NEXT, "readlink"));
    if (!sentAtStart && at("start") && std::strcmp(path, "/proc/self/exe") == 0) {
        sentAtStart = true;
        sendTerm("stop-signal shim: SIGTERM at start-up\n");
    }
    return real(path, buffer, size);
}
