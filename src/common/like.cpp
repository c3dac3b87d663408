#include "common/like.h"

#include <vector>

namespace arcsweep {
namespace {

// One pattern element; every element but Star matches exactly one character.
struct Token {
    enum Kind { Literal, AnyChar, Digit, Set, Star } kind = Literal;
    char16_t ch = 0;
    bool negated = false;
    std::vector<std::pair<char16_t, char16_t>> ranges;

    bool matches(char16_t c) const {
        switch (kind) {
        case Literal:
            return c == ch;
        case AnyChar:
            return true;
        case Digit:
            return c >= u'0' && c <= u'9';
        case Set: {
            bool in = false;
            for (const auto &[lo, hi] : ranges)
                if (c >= lo && c <= hi) {
                    in = true;
                    break;
                }
            return in != negated;
        }
        case Star:
            break;
        }
        return false;
    }
};

// Parses a bracket expression starting after '['; returns false when malformed.
bool parseSet(QStringView p, qsizetype &i, Token &t) {
    t.kind = Token::Set;
    if (i < p.size() && p[i] == u'!') {
        t.negated = true;
        ++i;
    }
    const qsizetype first = i;
    while (i < p.size() && p[i] != u']') {
        const char16_t lo = p[i].unicode();
        const bool atStart = i == first;
        // A hyphen between two characters forms a range; at either end it is literal.
        if (i + 2 < p.size() && p[i + 1] == u'-' && p[i + 2] != u']' && !(atStart && lo == u'-')) {
            const char16_t hi = p[i + 2].unicode();
            if (hi < lo)
                return false;
            t.ranges.emplace_back(lo, hi);
            i += 3;
            continue;
        }
        t.ranges.emplace_back(lo, lo);
        ++i;
    }
    if (i >= p.size() || t.ranges.empty())
        return false; // unclosed, or an empty list
    ++i;              // past ']'
    return true;
}

bool tokenize(QStringView p, std::vector<Token> &out) {
    for (qsizetype i = 0; i < p.size();) {
        Token t;
        const QChar c = p[i++];
        if (c == u'*') {
            if (!out.empty() && out.back().kind == Token::Star)
                continue; // "**" is one star
            t.kind = Token::Star;
        } else if (c == u'?') {
            t.kind = Token::AnyChar;
        } else if (c == u'#') {
            t.kind = Token::Digit;
        } else if (c == u'[') {
            if (!parseSet(p, i, t))
                return false;
        } else {
            t.ch = c.unicode();
        }
        out.push_back(std::move(t));
    }
    return true;
}

} // namespace

QString likeLiteral(const QString &name) {
    QString pattern;
    pattern.reserve(name.size());
    for (const QChar c : name) {
        // A carriage return too: it separates the parts of an EntrySpec outside brackets.
        if (c == u'*' || c == u'?' || c == u'#' || c == u'[' || c == u'\r') {
            pattern.append(u'[');
            pattern.append(c);
            pattern.append(u']');
        } else {
            pattern.append(c);
        }
    }
    return pattern;
}

struct LikePattern::Tokens {
    std::vector<Token> list;
};

LikePattern::LikePattern(QStringView pattern) : tokens_(std::make_unique<Tokens>()) {
    if (!tokenize(pattern, tokens_->list))
        tokens_.reset();
}

LikePattern::~LikePattern() = default;
LikePattern::LikePattern(LikePattern &&) noexcept = default;
LikePattern &LikePattern::operator=(LikePattern &&) noexcept = default;

bool LikePattern::isValid() const {
    return tokens_ != nullptr;
}

bool LikePattern::matches(QStringView name) const {
    if (!tokens_)
        return false;
    const std::vector<Token> &tokens = tokens_->list;
    // Greedy matching with a single resume point: since every token but the star
    // takes exactly one character, the last star seen is the only one worth retrying.
    size_t t = 0;
    qsizetype n = 0;
    size_t starToken = SIZE_MAX;
    qsizetype starName = 0;
    while (n < name.size()) {
        if (t < tokens.size() && tokens[t].kind == Token::Star) {
            starToken = t++;
            starName = n;
        } else if (t < tokens.size() && tokens[t].matches(name[n].unicode())) {
            ++t;
            ++n;
        } else if (starToken != SIZE_MAX) {
            t = starToken + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (t < tokens.size() && tokens[t].kind == Token::Star)
        ++t;
    return t == tokens.size();
}

bool likeIsValid(QStringView pattern) {
    return LikePattern(pattern).isValid();
}

bool likeMatch(QStringView name, QStringView pattern) {
    return LikePattern(pattern).matches(name);
}

} // namespace arcsweep
