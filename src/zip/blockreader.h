#pragma once

#include "zip/zipformat.h"

#include <cstring>
#include <memory>

namespace arcsweep {

// Reads small records at increasing offsets of a file through one window: a
// directory of many entries costs a few reads, not one or two per entry.
class BlockReader {
public:
    explicit BlockReader(int fd, size_t window = 64 * 1024)
        : fd_(fd), window_(window), buffer_(new unsigned char[window]) {}

    // The `n` bytes at `offset`; false when the file ends before them or cannot be read.
    bool read(unsigned long long offset, void *out, size_t n) {
        if (n == 0)
            return true; // `out` may be null then
        if (n > window_)
            return zipformat::preadExactly(fd_, offset, out, n);
        // Compared by differences: offsets come from the archive and may be near 2^64.
        const bool inWindow =
            offset >= start_ && offset - start_ <= length_ && n <= length_ - (offset - start_);
        if (!inWindow) {
            const ssize_t got = zipformat::preadAtLeast(fd_, offset, buffer_.get(), window_, n);
            start_ = offset;
            length_ = got < 0 ? 0 : size_t(got);
            if (length_ < n)
                return false;
        }
        std::memcpy(out, buffer_.get() + (offset - start_), n);
        return true;
    }

private:
    int fd_;
    size_t window_;
    std::unique_ptr<unsigned char[]> buffer_;
    unsigned long long start_ = 0;
    size_t length_ = 0;
};

} // namespace arcsweep
