#include "platform/mdindex/MdPattern.h"

namespace MdIndex {

QString fold(const QString &s, bool caseless, bool diacriticless)
{
    QString out = caseless ? s.toCaseFolded() : s;
    if (!diacriticless)
        return out;
    bool ascii = true;
    for (QChar ch : out)
        if (ch.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return out;
    const QString decomposed = out.normalized(QString::NormalizationForm_D);
    out.clear();
    out.reserve(decomposed.size());
    for (QChar ch : decomposed)
        if (ch.category() != QChar::Mark_NonSpacing)
            out.append(ch);
    return out.normalized(QString::NormalizationForm_C);
}

Pattern Pattern::fromQuoted(const QString &raw)
{
    Pattern p;
    auto literal = [&p](QChar ch) {
        if (p.pieces.empty() || p.pieces.back().kind != Part::Literal)
            p.pieces.push_back({Part::Literal, QString()});
        p.pieces.back().text.append(ch);
    };
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar ch = raw.at(i);
        if (ch == QLatin1Char('\\') && i + 1 < raw.size())
            literal(raw.at(++i));
        else if (ch == QLatin1Char('*'))
            p.pieces.push_back({Part::Star, QString()});
        else if (ch == QLatin1Char('?'))
            p.pieces.push_back({Part::Question, QString()});
        else
            literal(ch);
    }
    return p;
}

QString Pattern::longestFoldedLiteral() const
{
    QString best;
    for (const Piece &piece : pieces)
        if (piece.kind == Part::Literal) {
            const QString f = searchFold(piece.text);
            if (f.size() > best.size())
                best = f;
        }
    return best;
}

bool Pattern::hasWildcards() const
{
    for (const Piece &piece : pieces)
        if (piece.kind != Part::Literal)
            return true;
    return false;
}

QString Pattern::literalText() const
{
    QString s;
    for (const Piece &piece : pieces)
        s += piece.kind == Part::Literal ? piece.text
             : piece.kind == Part::Star  ? QStringLiteral("*")
                                         : QStringLiteral("?");
    return s;
}

namespace {

// Iterative glob match with single back-tracking point for the last star (linear for the
// patterns the program builds, never exponential).
bool globMatch(const std::vector<Pattern::Piece> &pieces, const QString &folded, const std::vector<QString> &lits,
               qsizetype start)
{
    size_t pi = 0;
    qsizetype si = start;
    size_t starPi = SIZE_MAX;
    qsizetype starSi = 0;
    while (si < folded.size() || pi < pieces.size()) {
        if (pi < pieces.size()) {
            const Pattern::Piece &piece = pieces[pi];
            if (piece.kind == Pattern::Part::Star) {
                starPi = pi++;
                starSi = si;
                continue;
            }
            if (piece.kind == Pattern::Part::Question && si < folded.size()) {
                ++pi;
                ++si;
                continue;
            }
            if (piece.kind == Pattern::Part::Literal && QStringView(folded).mid(si).startsWith(lits[pi])) {
                si += lits[pi].size();
                ++pi;
                continue;
            }
        }
        if (starPi == SIZE_MAX || starSi >= folded.size())
            return false;
        pi = starPi + 1;
        si = ++starSi;
    }
    return true;
}

bool isWordStart(const QString &s, qsizetype i)
{
    if (i == 0)
        return true;
    const QChar prev = s.at(i - 1), cur = s.at(i);
    if (!cur.isLetterOrNumber())
        return false;
    if (!prev.isLetterOrNumber())
        return true;
    return prev.isLower() && cur.isUpper(); // camelCase
}

} // namespace

bool Pattern::matches(const QString &value) const
{
    std::vector<QString> lits(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i)
        if (pieces[i].kind == Part::Literal)
            lits[i] = fold(pieces[i].text, caseless, diacriticless);
    const QString v = fold(value, caseless, diacriticless);
    if (!wordBased)
        return globMatch(pieces, v, lits, 0);
    // Word starts are judged on the unfolded value (camelCase needs the case).
    const bool sameLength = v.size() == value.size();
    for (qsizetype i = 0; i < v.size(); ++i)
        if ((sameLength ? isWordStart(value, i) : isWordStart(v, i)) && globMatch(pieces, v, lits, i))
            return true;
    return v.isEmpty() && globMatch(pieces, v, lits, 0);
}

void Pattern::foldLiterals()
{
    foldedLiterals.assign(pieces.size(), QString());
    for (size_t i = 0; i < pieces.size(); ++i)
        if (pieces[i].kind == Part::Literal)
            foldedLiterals[i] = searchFold(pieces[i].text);
}

bool Pattern::matchesFolded(const QString &foldedValue) const
{
    if (foldedLiterals.size() != pieces.size()) {
        Pattern prepared = *this;
        prepared.foldLiterals();
        return prepared.matchesFolded(foldedValue);
    }
    const std::vector<QString> &lits = foldedLiterals;
    if (!wordBased)
        return globMatch(pieces, foldedValue, lits, 0);
    // Folding loses camelCase word starts: every position is tried (a superset, checked later).
    for (qsizetype i = 0; i < foldedValue.size(); ++i)
        if (globMatch(pieces, foldedValue, lits, i))
            return true;
    return foldedValue.isEmpty() && globMatch(pieces, foldedValue, lits, 0);
}

} // namespace MdIndex
