#pragma once

#include <QString>

#include <cerrno>
#include <cstring>

namespace arcsweep {

// The outcome of writing a file: success, or the errno of the system call that
// failed, so that the message the user sees names the cause.
class WriteResult {
public:
    WriteResult() = default; // success

    // A failure with the system's error number (EIO when the call left none).
    static WriteResult failure(int error) {
        WriteResult result;
        result.error_ = error != 0 ? error : EIO;
        return result;
    }

    explicit operator bool() const { return error_ == 0; }
    int error() const { return error_; }
    // The system's text for the error, e.g. "No space left on device".
    QString cause() const { return QString::fromLocal8Bit(std::strerror(error_)); }

private:
    int error_ = 0;
};

} // namespace arcsweep
