#pragma once

#include <cerrno>
#include <dirent.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace arcsweep {

// Owns a file descriptor: closes it when it goes, so no return path can leak one.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and holds `fd`. Keeps errno as it was, so a
    // failure's cause survives the clean-up after it.
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            const int cause = errno;
            ::close(fd_);
            errno = cause;
        }
        fd_ = fd;
    }
    // Closes it now and says whether the close succeeded (a write can fail only here).
    bool close() { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_ = -1;
};

// An open folder listing.
struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

} // namespace arcsweep
