#pragma once
// String values of the query language: "*" and "?" wildcards, "\" escaping the next character,
// and the modifiers c (ignore case), d (ignore diacritics) and w (match at the start of any word
// of the value, so "re*"w matches "Annual report").
#include <QString>
#include <vector>

namespace MdIndex {

// Lower-cases (case folding) and/or strips combining marks (after canonical decomposition).
QString fold(const QString &s, bool caseless, bool diacriticless);
// Both foldings: the form names are stored in for searching.
inline QString searchFold(const QString &s)
{
    return fold(s, true, true);
}

struct Pattern {
    enum class Part { Literal, Star, Question };
    struct Piece {
        Part kind = Part::Literal;
        QString text; // Literal only
    };
    std::vector<Piece> pieces;
    bool caseless = false;
    bool diacriticless = false;
    bool wordBased = false;

    // The value's text as written (escapes resolved); modifiers are set by the caller.
    static Pattern fromQuoted(const QString &raw);
    // Longest literal run after search folding ("" when the pattern is all wildcards).
    QString longestFoldedLiteral() const;
    bool hasWildcards() const;
    // The value with escapes resolved and wildcards kept as written.
    QString literalText() const;
    bool matches(const QString &value) const;
    // A quick pre-check on an already search-folded value: never false where matches() is true
    // for a caseless, diacriticless pattern (word-based patterns are tried at every position).
    // Call foldLiterals() once first when checking many values (else each call folds again).
    bool matchesFolded(const QString &foldedValue) const;
    void foldLiterals();
    std::vector<QString> foldedLiterals; // per piece, filled by foldLiterals()
};

} // namespace MdIndex
