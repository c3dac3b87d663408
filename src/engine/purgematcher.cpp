#include "engine/purgematcher.h"

#include "common/like.h"

namespace arcsweep {

namespace {
bool isPlain(const QString &pattern) {
    for (const QChar c : pattern)
        if (c == u'*' || c == u'?' || c == u'#' || c == u'[')
            return false;
    return true;
}
} // namespace

void PurgeMatcher::load(const QStringList &table) {
    patterns_.clear();
    plain_.clear();
    wild_.clear();
    for (const QString &line : table) {
        if (line.isEmpty())
            break; // the first empty slot ends the list
        const qsizetype index = patterns_.size();
        patterns_.append(line.toLower());
        const QString &pattern = patterns_.back();
        if (!isPlain(pattern))
            wild_.emplace_back(index, LikePattern(pattern));
        else if (!plain_.contains(pattern))
            plain_.insert(pattern, index);
    }
}

qsizetype PurgeMatcher::firstMatch(const QString &name) const {
    const qsizetype plain = plain_.value(name, -1);
    for (const auto &[index, wild] : wild_) {
        if (plain >= 0 && index > plain)
            break;
        if (wild.matches(name))
            return index;
    }
    return plain;
}

} // namespace arcsweep
