#include "common/entrypath.h"

#include <QStringList>

namespace arcsweep {

QString entryPathBelow(const QString &folder, const QString &entryName) {
    if (folder.isEmpty() || entryName.isEmpty() || entryName.contains(QChar(0)))
        return {};
    if (entryName.endsWith(u'/') || entryName.endsWith(u'\\'))
        return {};
    QString name = entryName;
    name.replace(u'\\', u'/');
    QStringList parts = name.split(u'/', Qt::SkipEmptyParts);
    if (!parts.isEmpty() && parts.first().size() == 2 && parts.first()[1] == u':' &&
        parts.first()[0].isLetter())
        parts.removeFirst(); // "c:" drive letter
    QStringList kept;
    for (const QString &part : parts) {
        if (part == u".")
            continue;
        if (part == u"..")
            return {};
        kept.append(part);
    }
    if (kept.isEmpty())
        return {};
    QString base = folder;
    while (base.size() > 1 && base.endsWith(u'/'))
        base.chop(1);
    return (base == u"/" ? QString() : base) + u'/' + kept.join(u'/');
}

} // namespace arcsweep
