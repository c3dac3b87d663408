#pragma once

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/types.h>
#include <unistd.h>

namespace arcsweep {

// Reads small records at increasing offsets of a file through one window: a
// directory of many entries costs a few reads, not one or two per entry.
class BlockReader {
public:
    explicit BlockReader(int fd, size_t window = 64 * 1024)
        : fd_(fd), window_(window), buffer_(new unsigned char[window]) {}

    // The `n` bytes at `offset`; false when the file ends before them or cannot be read.
    bool read(unsigned long long offset, void *out, size_t n) {
        if (n > window_)
            return direct(offset, static_cast<char *>(out), n);
        if (offset < start_ || offset + n > start_ + length_) {
            start_ = offset;
            length_ = 0;
            while (length_ < n) {
                const ssize_t got = ::pread(fd_, buffer_.get() + length_, window_ - length_,
                                            off_t(start_ + length_));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    return false;
                length_ += size_t(got);
            }
        }
        std::memcpy(out, buffer_.get() + (offset - start_), n);
        return true;
    }

private:
    bool direct(unsigned long long offset, char *out, size_t n) {
        while (n > 0) {
            const ssize_t got = ::pread(fd_, out, n, off_t(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            offset += static_cast<unsigned long long>(got);
            n -= size_t(got);
        }
        return true;
    }

    int fd_;
    size_t window_;
    std::unique_ptr<unsigned char[]> buffer_;
    unsigned long long start_ = 0;
    size_t length_ = 0;
};

} // namespace arcsweep
