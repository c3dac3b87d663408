#pragma once

#include "common/like.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace arcsweep {

// The run's purge patterns, prepared once per run: lower-cased, ended by the first
// empty line, and split so that a plain name (no "*?#[") is found by one hash
// look-up while only the wildcard patterns are tried one by one. The answer is
// always the first pattern in file order that matches the whole name.
class PurgeMatcher {
public:
    // Takes the table as read from the purge list.
    void load(const QStringList &table);

    // Index of the first pattern that the (lower-cased) name matches, or -1.
    qsizetype firstMatch(const QString &name) const;
    const QString &pattern(qsizetype index) const { return patterns_.at(index); }
    qsizetype size() const { return patterns_.size(); }

private:
    QStringList patterns_;
    QHash<QString, qsizetype> plain_; // first index of each plain pattern
    // The wildcard patterns, read once, with their indexes, ascending.
    std::vector<std::pair<qsizetype, LikePattern>> wild_;
};

} // namespace arcsweep
