#pragma once
// The text of the search bar's two index queries, built from the bar's state exactly as the
// searcher always wrote them: the name query (terms against the display name) and the
// name-or-content query, each completed by the kind, time and system-file conditions. Also the
// merge of their two result lists (five name results first, then one of each in turn).
//
// Pure functions without widgets or disk work: the window, the command line and the D-Bus
// method share them, so all three search the same way.
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

namespace KLSearchQueryText {

// One entry of the kind pop-up: its label (a localisation key) and the content types it asks
// for (empty: no kind condition).
struct KindEntry {
    QString label;
    QStringList contentTypes;
};
// One entry of the time pop-up: its label and its time expression (empty: no time condition).
struct TimeEntry {
    QString label;
    QString expression;
};

// The 15 kinds and 7 times, in pop-up order.
const QList<KindEntry> &kinds();
const QList<TimeEntry> &times();
// The entry whose label matches `name` (ignoring case, blanks and "&"), or whose index it is
// written as; -1 when none does. For the command line ("--kind pdf", "--time today").
int kindIndexForName(const QString &name);
int timeIndexForName(const QString &name);

// What the field shows when only a kind and a place are chosen: "All", with the quotes.
QString allPlaceholder();

// What the search bar holds.
struct Criteria {
    QString text;      // the field
    int kindIndex = 0; // into kinds(); out of range counts as 0
    int timeIndex = 0; // into times(); out of range counts as 0
};

// Splits search text into terms: blanks separate, double quotes group a phrase, and a term
// ending in ":" takes the next one ("kind: pdf" -> "kind:pdf").
QStringList readSpaceAndQuoteDelimitedStringIntoArray(const QString &s);
// `s` without leading and trailing white space and line breaks.
QString trimWhiteStuff(const QString &s);

// The conditions, appended to `q` with " && " where `q` is not empty.
QString addFileNameSearch(const QString &q, const QString &fieldText);
QString addAllSearch(const QString &q, const QString &fieldText);
QString addFileTypeQuery(const QString &q, int kindIndex);
QString addDateQuery(const QString &q, int timeIndex);
QString addNoSystemFiles(const QString &q);

// The two complete queries for the bar's state.
QString nameQuery(const Criteria &c);
QString allQuery(const Criteria &c);

// True when there is nothing to search for: an empty field (white space counts as empty), kind
// and time at their first entry, and no place picked. The results are then hidden.
bool isNoSearch(const Criteria &c, bool locationPicked);

// The merged list: the name list's first five, then name 5, content 0, name 6, content 1, …
// until both are used up; an item whose path is empty or already in the list is skipped.
template <typename T>
QList<T> mergeResults(const QList<T> &names, const QList<T> &contents, const std::function<QString(const T &)> &pathOf)
{
    QList<T> merged;
    QSet<QString> seen;
    auto take = [&](const T &item) {
        const QString path = pathOf(item);
        if (path.isEmpty() || seen.contains(path))
            return;
        seen.insert(path);
        merged.append(item);
    };
    constexpr qsizetype lead = 5;
    qsizetype n = 0, c = 0;
    for (; n < names.size() && n < lead; ++n)
        take(names.at(n));
    while (n < names.size() || c < contents.size()) {
        if (n < names.size())
            take(names.at(n++));
        if (c < contents.size())
            take(contents.at(c++));
    }
    return merged;
}

QStringList mergeResults(const QStringList &names, const QStringList &contents);

} // namespace KLSearchQueryText
