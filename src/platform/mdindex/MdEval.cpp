// Checking one file against a query tree.
#include "platform/mdindex/MdSearch.h"

#include "platform/typeregistry/TypeRegistry.h"

namespace MdIndex {
namespace {

template <typename T> bool ordered(Op op, T a, T b)
{
    switch (op) {
    case Op::Eq:
        return a == b;
    case Op::Ne:
        return a != b;
    case Op::Lt:
        return a < b;
    case Op::Le:
        return a <= b;
    case Op::Gt:
        return a > b;
    case Op::Ge:
        return a >= b;
    }
    return false;
}

bool dateAttr(Attr a)
{
    return a == Attr::ContentModificationDate || a == Attr::CreationDate || a == Attr::LastUsedDate;
}

// The text values an attribute has for a file (none: the attribute is absent).
QStringList textValues(Attr a, const FileRecord &r)
{
    switch (a) {
    case Attr::FSName:
        return {r.name};
    case Attr::DisplayName:
        return {r.displayName};
    case Attr::Path:
        return {r.path};
    case Attr::ContentType:
        return r.contentType.isEmpty() ? QStringList() : QStringList{r.contentType};
    case Attr::ContentTypeTree:
        return r.contentTypeTree;
    case Attr::UserTags:
        return r.tags;
    case Attr::SupportFileType:
        return r.isSystemFile ? QStringList{QStringLiteral("MDSystemFile")} : QStringList();
    case Attr::Any:
        return QStringList{r.name, r.displayName} + r.tags;
    default:
        return {};
    }
}

} // namespace

bool Searcher::matches(const QueryNode &node, const FileRecord &r) const
{
    switch (node.kind) {
    case QueryNode::Kind::And:
        return matches(*node.left, r) && matches(*node.right, r);
    case QueryNode::Kind::Or:
        return matches(*node.left, r) || matches(*node.right, r);
    case QueryNode::Kind::Not:
        return !matches(*node.left, r);
    case QueryNode::Kind::Compare:
        return compare(node, r);
    }
    return false;
}

bool Searcher::compare(const QueryNode &node, const FileRecord &r) const
{
    const Value &v = node.value;
    const Attr a = node.attr;
    if (a == Attr::Size || a == Attr::Rating) {
        if (v.kind != Value::Kind::Number)
            return node.op == Op::Ne;
        return ordered(node.op, a == Attr::Size ? double(r.size) : r.rating, v.number);
    }
    if (dateAttr(a)) {
        const qint64 have = a == Attr::ContentModificationDate ? r.modifiedMs
                            : a == Attr::CreationDate          ? r.createdMs
                                                               : r.lastUsedMs;
        if (have <= 0 || v.kind == Value::Kind::String) // never used / unknown birth time
            return node.op == Op::Ne;
        const qint64 want = v.kind == Value::Kind::Date ? v.dateMs : qint64(v.number * 1000);
        return ordered(node.op, have, want);
    }
    if (v.kind != Value::Kind::String)
        return node.op == Op::Ne;
    const Pattern &p = v.pattern;
    bool any = false;
    if (a == Attr::TextContent || a == Attr::Any)
        any = textSets_.value(&node).contains(r.id);
    if (node.op == Op::Eq || node.op == Op::Ne) {
        const QStringList values = textValues(a, r);
        for (qsizetype i = 0; !any && i < values.size(); ++i)
            any = p.matches(values.at(i));
        // A kind names a parent type the tree may not list: ask the registry.
        if (!any && a == Attr::ContentTypeTree && !p.hasWildcards() && !r.contentType.isEmpty())
            any = TypeRegistry::conformsTo(r.contentType, p.literalText());
        return node.op == Op::Eq ? any : !any;
    }
    const QString want = fold(p.literalText(), p.caseless, p.diacriticless);
    for (const QString &value : textValues(a, r))
        if (ordered(node.op, QString::compare(fold(value, p.caseless, p.diacriticless), want), 0))
            return true;
    return false;
}

} // namespace MdIndex
