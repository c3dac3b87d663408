#pragma once

#include <QString>
#include <QStringView>

#include <memory>

namespace arcsweep {

// A Like pattern read once, for matching many names against it (the rules are those
// of likeMatch below).
class LikePattern {
public:
    explicit LikePattern(QStringView pattern);
    ~LikePattern();
    LikePattern(LikePattern &&) noexcept;
    LikePattern &operator=(LikePattern &&) noexcept;

    bool isValid() const;
    bool matches(QStringView name) const;

private:
    struct Tokens;
    std::unique_ptr<Tokens> tokens_; // null when the pattern is malformed
};

// Matches a whole name against a Like pattern: "*" any run, "?" one character,
// "#" one decimal digit, "[list]" one character of the list ("a-z" ranges by code,
// a hyphen first or last stands for itself), "[!list]" one character not in it.
// Brackets make "*?#[" literal. Characters compare exactly: callers lower-case both
// sides when case must not matter. A malformed pattern ("[", "[a-", "[z-a]") matches
// nothing. Runs in O(name x pattern) time whatever the pattern holds.
bool likeMatch(QStringView name, QStringView pattern);

// A pattern that matches exactly `name`: "*?#[" are put in brackets. Used as an
// EntrySpec so that deleting "read#1.nfo" cannot also delete "read11.nfo".
QString likeLiteral(const QString &name);

// True when the pattern is well formed.
bool likeIsValid(QStringView pattern);

} // namespace arcsweep
