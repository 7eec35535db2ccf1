#include "platform/mdindex/MdSearch.h"

#include <QRegularExpression>

namespace MdIndex {

QString ftsQueryForPattern(const Pattern &p)
{
    static const QRegularExpression nonWord(QStringLiteral("[^\\w]+"));
    QStringList words;
    for (const Pattern::Piece &piece : p.pieces)
        if (piece.kind == Pattern::Part::Literal)
            for (const QString &w : piece.text.split(nonWord, Qt::SkipEmptyParts))
                words.append(QLatin1Char('"') + w + QLatin1Char('"'));
    if (words.isEmpty())
        return {};
    if (!p.pieces.empty() && p.pieces.back().kind == Pattern::Part::Star)
        words.last().append(QLatin1Char('*'));
    return words.join(QLatin1Char(' '));
}

SearchResult Searcher::run(const QString &queryText, const SearchOptions &options)
{
    const ParsedQuery q = parseQuery(queryText);
    if (!q.ok()) {
        SearchResult r;
        r.error = q.error;
        return r;
    }
    return run(*q.root, options);
}

SearchResult Searcher::run(const QueryNode &root, const SearchOptions &options)
{
    SearchResult result;
    const bool ownRead = store_.beginRead();
    textSets_.clear();
    prepareTextSets(root);
    QSet<qint64> seen;
    auto inScope = [&options](const QString &path) {
        if (options.scopes.isEmpty())
            return true;
        for (const QString &scope : options.scopes) {
            const QString s = scope.endsWith(QLatin1Char('/')) && scope.size() > 1 ? scope.chopped(1) : scope;
            if (path == s || path.startsWith(s == QLatin1String("/") ? s : s + QLatin1Char('/')))
                return true;
        }
        return false;
    };
    auto full = [&] { return options.maxCount > 0 && result.items.size() >= options.maxCount; };
    auto cancelled = [&] { return options.cancel && options.cancel->load(std::memory_order_relaxed); };
    auto consider = [&](const FileRecord &r) {
        if (cancelled()) {
            result.cancelled = true;
            return false;
        }
        if (inScope(r.path) && matches(root, r))
            result.items.append(r);
        return !full();
    };
    if (const std::optional<Source> source = candidates(root)) {
        (*source)([&](qint64 id) {
            if (seen.contains(id))
                return true;
            seen.insert(id);
            const std::optional<FileRecord> r = store_.byId(id);
            return r ? consider(*r) : !cancelled();
        });
    } else {
        store_.forEachRecord(consider);
    }
    if (ownRead)
        store_.endRead();
    return result;
}

qint64 Searcher::count(const QueryNode &root, const SearchOptions &options)
{
    const bool nameCompare = root.kind == QueryNode::Kind::Compare &&
                             (root.attr == Attr::FSName || root.attr == Attr::DisplayName) && root.op == Op::Eq &&
                             root.value.kind == Value::Kind::String;
    if (options.scopes.isEmpty() && nameCompare) {
        const bool ownRead = store_.beginRead();
        const qint64 n = countNames(root);
        if (ownRead)
            store_.endRead();
        if (n >= 0)
            return n;
    }
    SearchOptions all = options;
    all.maxCount = 0;
    return run(root, all).items.size();
}

namespace {

QString longestLiteral(const Pattern &p)
{
    QString best;
    for (const Pattern::Piece &piece : p.pieces)
        if (piece.kind == Pattern::Part::Literal && piece.text.size() > best.size())
            best = piece.text;
    return best;
}

} // namespace

qint64 Searcher::countNames(const QueryNode &node)
{
    const Pattern &p = node.value.pattern;
    // "*text*": every name holding the literal matches, and nothing else does.
    const bool substring = p.pieces.size() == 3 && p.pieces[0].kind == Pattern::Part::Star &&
                           p.pieces[2].kind == Pattern::Part::Star && !p.wordBased;
    const bool foldedExact = p.caseless && p.diacriticless && !p.wordBased;
    const QString folded = p.longestFoldedLiteral();
    // Before the name table is loaded, the trigram table answers a folded substring at once.
    if (foldedExact && substring && folded.size() >= 3 && !names_.isCurrent(store_)) {
        const qint64 n = store_.countTrigramMatches(folded);
        if (n >= 0)
            return n;
    }
    // A literal few names hold (a rare word): the trigram table lists them and their rows
    // decide. Past a few rows the scan of the in-memory names is the cheaper way.
    if (folded.size() >= 3) {
        constexpr size_t kFewRows = 256;
        std::vector<qint64> ids;
        const bool listed = store_.forEachTrigramMatch(folded, [&ids](qint64 id) {
            ids.push_back(id);
            return ids.size() <= kFewRows;
        });
        if (listed && ids.size() <= kFewRows) {
            qint64 n = 0;
            for (qint64 id : ids) {
                const std::optional<FileRecord> r = store_.byId(id);
                n += r && compare(node, *r) ? 1 : 0;
            }
            return n;
        }
    }
    names_.refresh(store_, !foldedExact);
    if (!names_.displayNamesAreFileNames())
        return -1; // the table holds file names: display names are checked row by row
    using Form = NameTable::Form;
    if (foldedExact) {
        if (substring)
            return names_.countContaining(Form::Folded, folded.toUtf8());
        Pattern prepared = p;
        prepared.foldLiterals();
        return names_.countContaining(Form::Folded, folded.toUtf8(), [&](qsizetype i) {
            return prepared.matchesFolded(names_.name(Form::Folded, i));
        });
    }
    if (!p.caseless && !p.diacriticless) {
        // Neither case nor accents ignored: the literal appears as written in the stored name.
        const QByteArray literal = longestLiteral(p).toUtf8();
        if (substring)
            return names_.countContaining(Form::AsStored, literal);
        return names_.countContaining(Form::AsStored, literal,
                                      [&](qsizetype i) { return p.matches(names_.name(Form::AsStored, i)); });
    }
    // One modifier alone, or word starts (judged on the stored case): the folded literal finds
    // a superset, the stored name decides.
    return names_.countContaining(Form::Folded, folded.toUtf8(),
                                  [&](qsizetype i) { return p.matches(names_.name(Form::AsStored, i)); });
}

void Searcher::prepareTextSets(const QueryNode &node)
{
    if (node.left)
        prepareTextSets(*node.left);
    if (node.right)
        prepareTextSets(*node.right);
    if (node.kind == QueryNode::Kind::Compare && (node.attr == Attr::TextContent || node.attr == Attr::Any) &&
        node.value.kind == Value::Kind::String) {
        const QString fts = ftsQueryForPattern(node.value.pattern);
        textSets_.insert(&node, fts.isEmpty() ? QSet<qint64>() : store_.textMatches(fts));
    }
}

std::optional<Searcher::Source> Searcher::nameCandidates(const Pattern &p)
{
    const QString literal = p.longestFoldedLiteral();
    if (literal.isEmpty())
        return std::nullopt;
    if (literal.size() >= 3 && store_.nameTrigramsReady())
        return Source([this, literal](const IdSink &sink) { store_.forEachTrigramMatch(literal, sink); });
    names_.refresh(store_);
    const bool precheck = p.caseless && p.diacriticless;
    Pattern folded = p;
    folded.foldLiterals();
    return Source([this, literal, p = std::move(folded), precheck](const IdSink &sink) {
        names_.forEachContaining(literal, [&](qint64 id, const QString &foldedName) {
            return (precheck && !p.matchesFolded(foldedName)) || sink(id);
        });
    });
}

std::optional<Searcher::Source> Searcher::candidates(const QueryNode &node)
{
    switch (node.kind) {
    case QueryNode::Kind::Not:
        return std::nullopt;
    case QueryNode::Kind::And: {
        // Either side's candidates cover the conjunction; the name side is usually narrower.
        std::optional<Source> l = candidates(*node.left);
        return l ? l : candidates(*node.right);
    }
    case QueryNode::Kind::Or: {
        std::optional<Source> l = candidates(*node.left), r = candidates(*node.right);
        if (!l || !r)
            return std::nullopt;
        return Source([l, r](const IdSink &sink) {
            bool go = true;
            (*l)([&](qint64 id) { return go = sink(id); });
            if (go)
                (*r)(sink);
        });
    }
    case QueryNode::Kind::Compare:
        break;
    }
    if (node.op != Op::Eq || node.value.kind != Value::Kind::String)
        return std::nullopt;
    const Pattern &p = node.value.pattern;
    if (node.attr == Attr::FSName || node.attr == Attr::DisplayName)
        return nameCandidates(p);
    if (node.attr == Attr::TextContent || node.attr == Attr::Any) {
        QList<qint64> ids = textSets_.value(&node).values();
        std::sort(ids.begin(), ids.end());
        std::optional<Source> byName;
        if (node.attr == Attr::Any) {
            byName = nameCandidates(p);
            if (!byName)
                return std::nullopt;
            ids.append(store_.taggedIds());
        }
        return Source([ids, byName](const IdSink &sink) {
            bool go = true;
            if (byName)
                (*byName)([&](qint64 id) { return go = sink(id); });
            for (qint64 id : ids)
                if (!go || !(go = sink(id)))
                    return;
        });
    }
    return std::nullopt;
}

} // namespace MdIndex
