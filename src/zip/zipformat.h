#pragma once

// Record signatures of the zip format, little-endian field access and a pread loop,
// shared by the layout reader, the rewriter and the archive file source.

#include <QtGlobal>

#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

namespace arcsweep::zipformat {

constexpr quint32 kLocalSig = 0x04034b50;
constexpr quint32 kCentralSig = 0x02014b50;
constexpr quint32 kEndSig = 0x06054b50;
constexpr quint32 kZip64EndSig = 0x06064b50;
constexpr quint32 kZip64LocatorSig = 0x07064b50;

inline quint16 le16(const uchar *p) {
    return quint16(p[0] | p[1] << 8);
}
inline quint32 le32(const uchar *p) {
    return quint32(le16(p)) | quint32(le16(p + 2)) << 16;
}
inline quint64 le64(const uchar *p) {
    return quint64(le32(p)) | quint64(le32(p + 4)) << 32;
}

// Reads from `offset` into `buf` (room for `room` bytes) until at least `least` bytes
// are in or the file ends, retrying interrupted reads. Returns the bytes read, or -1
// with errno set.
inline ssize_t preadAtLeast(int fd, quint64 offset, void *buf, size_t room, size_t least) {
    auto *out = static_cast<char *>(buf);
    size_t done = 0;
    while (done < least) {
        const ssize_t got = ::pread(fd, out + done, room - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
    }
    return ssize_t(done);
}

// Exactly `n` bytes at `offset`; false when the file ends before them (errno EIO)
// or cannot be read.
inline bool preadExactly(int fd, quint64 offset, void *buf, size_t n) {
    const ssize_t got = preadAtLeast(fd, offset, buf, n, n);
    if (got < 0)
        return false;
    if (size_t(got) < n) {
        errno = EIO;
        return false;
    }
    return true;
}

} // namespace arcsweep::zipformat
