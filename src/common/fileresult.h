#pragma once

#include <QString>

#include <cerrno>
#include <cstring>

namespace arcsweep {

// The outcome of an operation on a file: success, or the errno of the system call that
// failed and what was being done, carried from that call to where the failure is
// reported, so that the message the user sees names the cause.
class FileResult {
public:
    FileResult() = default; // success

    // A failure with the system's error number (EIO when the call left none).
    static FileResult failure(int error, const QString &what = {}) {
        FileResult result;
        result.error_ = error != 0 ? error : EIO;
        result.what_ = what;
        return result;
    }
    // A failure with errno as the call that just failed left it.
    static FileResult fromErrno(const QString &what = {}) { return failure(errno, what); }

    explicit operator bool() const { return error_ == 0; }
    int error() const { return error_; }
    // What was being done, e.g. "sync the new file"; may be empty.
    const QString &what() const { return what_; }
    // The system's text for the error, e.g. "No space left on device"; empty on success.
    QString cause() const {
        return error_ == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error_));
    }

private:
    int error_ = 0;
    QString what_;
};

} // namespace arcsweep
