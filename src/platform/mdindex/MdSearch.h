#pragma once
// Runs a parsed query against a Store. Works in two steps: candidates come from the cheapest
// source the query allows (the trigram table for a name literal of 3+ characters, the in-memory
// NameTable for shorter ones, the text index for content terms, else every row), and each
// candidate is then checked against the whole query in memory, so every operator and modifier
// has one exact meaning whichever source found the file. Stops at the maximum count.
//
// A Searcher belongs to one (worker) thread with its own Store; run() blocks on the disk.
#include "platform/mdindex/MdNameTable.h"
#include "platform/mdindex/MdQuery.h"
#include "platform/mdindex/MdStore.h"

#include <QHash>
#include <atomic>

namespace MdIndex {

struct SearchOptions {
    QStringList scopes;                        // folders; empty: everywhere
    int maxCount = 100;                        // <= 0: no limit
    const std::atomic<bool> *cancel = nullptr; // set from another thread to stop early
};

struct SearchResult {
    QList<FileRecord> items; // in index order
    QString error;
    bool cancelled = false;
};

class Searcher
{
public:
    explicit Searcher(Store &store) : store_(store) {}
    SearchResult run(const QString &queryText, const SearchOptions &options);
    SearchResult run(const QueryNode &root, const SearchOptions &options);
    // How many files match. A single name condition (any modifiers, no scope) is counted on the
    // in-memory names without reading a row; anything else goes through run().
    qint64 count(const QueryNode &root, const SearchOptions &options);
    // True when `r` satisfies the query (text conditions use the sets found for this run).
    bool matches(const QueryNode &node, const FileRecord &r) const;

private:
    using IdSink = std::function<bool(qint64)>;
    using Source = std::function<void(const IdSink &)>;
    std::optional<Source> candidates(const QueryNode &node);
    std::optional<Source> nameCandidates(const Pattern &p);
    void prepareTextSets(const QueryNode &node);
    qint64 countNames(const QueryNode &node); // -1: the name table cannot answer exactly
    bool compare(const QueryNode &node, const FileRecord &r) const;

    Store &store_;
    NameTable names_;
    QHash<const QueryNode *, QSet<qint64>> textSets_;
};

// The FTS5 query for a text-content pattern: its words, the last one a prefix when the pattern
// ends with "*" (infix wildcards cannot be served by the word index and are read as prefixes).
QString ftsQueryForPattern(const Pattern &p);

} // namespace MdIndex
