#pragma once

#include <QString>

class QListWidget;
class QWidget;

namespace arcsweep {

class ZipComponent;

// A window that shows archive entries and opens the text viewer on them: the main
// window or the verification window. Entry viewing and the viewer's Add run the
// same steps for both; what differs between the two windows is answered here.
class ViewerCaller {
public:
    virtual ~ViewerCaller() = default;

    virtual QWidget *callerWindow() = 0;  // takes the hourglass; parent of messages
    virtual QListWidget *entryList() = 0; // List1: Add works on its selection
    virtual ZipComponent &zip() = 0;      // the window's own XceedZip1

    // The archive an entry is viewed from, and the one the viewer's Add deletes
    // from (real paths, folders and name as on disk).
    virtual QString viewArchive() = 0;
    virtual QString addArchive() = 0;

    // Entry viewing on a damaged archive: the main window resets its progress panel,
    // marks its status panel, renames only on a writable volume and refreshes its
    // archive list afterwards; the verification window does none of these.
    virtual void resetProgress() {}
    virtual void markDamaged(const QString &viewedEntry) { Q_UNUSED(viewedEntry) }
    virtual bool mayRename(const QString &realPath) {
        Q_UNUSED(realPath)
        return true;
    }
    virtual void afterDamage() {}

    // The viewer's Add. `beginAdd` false refuses it; the caller has then done what
    // it does instead. `entryAdded` follows the purge-list check of each name.
    virtual bool beginAdd() = 0;
    virtual void entryAdded(const QString &name, bool isNew) = 0;
    virtual bool keepsSelection() const = 0; // added entries stay selected
    virtual void relist() = 0;               // ViewerRelistMain / ViewerRelistVerify
};

} // namespace arcsweep
