#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace arcsweep {

// Classifies the volume that holds a path: 3 ready and writable, 2 read-only,
// 0 no such volume. An outside control: tests may set its answer.
class DiskInfo {
public:
    void setDriveLetter(const QString &drive) { drive_ = drive; }
    QString DriveLetter() const { return drive_; }
    int DriveCheck() const;

    // Test hook: when set, DriveCheck returns this answer for every drive.
    std::optional<int> forcedAnswer;

    // The volume root that holds `path` ("/" when unknown).
    static QString volumeOf(const QString &path);

private:
    QString drive_;
};

} // namespace arcsweep
