#include "zip/archiveactions.h"

#include "common/damagedarchiverule.h"
#include "common/inputhold.h"
#include "common/like.h"
#include "zip/zipcomponent.h"
#include "zip/zipresult.h"

#include <optional>

namespace arcsweep::ArchiveActions {

namespace {
// Runs one component call, under an input hold when asked, then applies the rule to a
// damaged archive.
template <typename Call>
int perform(ZipComponent &zip, const QString &archive, const DamagedArchiveRule *damaged,
            bool holdInput, Call call) {
    zip.Flag10 = false;
    zip.ArchivePath = archive;
    std::optional<InputHold> hold;
    if (holdInput)
        hold.emplace();
    const int result = call();
    hold.reset();
    if (damaged && isDamageCode(result))
        damaged->apply(archive);
    return result;
}
} // namespace

int listAndTest(ZipComponent &zip, const QString &archive, const DamagedArchiveRule *damaged,
                bool holdInput) {
    zip.EntrySpec = QStringLiteral("*.*");
    return perform(zip, archive, damaged, holdInput, [&] { return zip.ListEntries(); });
}

int deleteEntry(ZipComponent &zip, const QString &archive, const QString &name, bool holdInput) {
    zip.EntrySpec = likeLiteral(name);
    return perform(zip, archive, nullptr, holdInput, [&] { return zip.DeleteEntries(); });
}

int deleteMatching(ZipComponent &zip, const QString &archive, const QString &patterns,
                   const DamagedArchiveRule *damaged) {
    zip.EntrySpec = patterns;
    return perform(zip, archive, damaged, false, [&] { return zip.DeleteEntries(); });
}

int extractEntry(ZipComponent &zip, const QString &archive, const QString &name,
                 const QString &folder, const DamagedArchiveRule *damaged) {
    zip.EntrySpec = likeLiteral(name);
    zip.ExtractFolder = folder;
    return perform(zip, archive, damaged, false, [&] { return zip.ExtractEntries(0); });
}

} // namespace arcsweep::ArchiveActions
