// The short form of the tag search:  tag: work tag: "two words" starrating:>=3  (terms joined
// by "and"; see MdQuery.h).
#include "platform/mdindex/MdQuery.h"

namespace MdIndex {

ParsedQuery parseShortForm(const QString &text)
{
    ParsedQuery out;
    std::unique_ptr<QueryNode> root;
    auto add = [&root](std::unique_ptr<QueryNode> n) {
        if (!root) {
            root = std::move(n);
            return;
        }
        auto a = std::make_unique<QueryNode>();
        a->kind = QueryNode::Kind::And;
        a->left = std::move(root);
        a->right = std::move(n);
        root = std::move(a);
    };
    auto fail = [&out](qsizetype at, const QString &what) {
        out.error = QStringLiteral("query error at character %1: %2").arg(at).arg(what);
        return std::move(out);
    };
    qsizetype pos = 0;
    auto skip = [&] {
        while (pos < text.size() && text.at(pos).isSpace())
            ++pos;
    };
    // A word or a quoted phrase.
    auto word = [&](QString *w) {
        skip();
        if (pos < text.size() && text.at(pos) == QLatin1Char('"')) {
            const qsizetype end = text.indexOf(QLatin1Char('"'), pos + 1);
            if (end < 0)
                return false;
            *w = text.mid(pos + 1, end - pos - 1);
            pos = end + 1;
            return true;
        }
        const qsizetype start = pos;
        while (pos < text.size() && !text.at(pos).isSpace())
            ++pos;
        *w = text.mid(start, pos - start);
        return !w->isEmpty();
    };
    for (skip(); pos < text.size(); skip()) {
        const qsizetype at = pos;
        QString w;
        if (!word(&w))
            return fail(at, QStringLiteral("a quoted value is not closed"));
        auto n = std::make_unique<QueryNode>();
        const QString lower = w.toLower();
        if (lower == QLatin1String("tag:")) {
            if (!word(&w))
                return fail(pos, QStringLiteral("a tag should follow \"tag:\""));
            n->attr = Attr::UserTags;
            n->value.pattern.pieces.push_back({Pattern::Part::Literal, w});
            n->value.pattern.caseless = true;
        } else if (lower.startsWith(QLatin1String("starrating:"))) {
            QString rest = w.mid(11);
            static const std::pair<const char *, Op> ops[] = {{">=", Op::Ge}, {"<=", Op::Le}, {"!=", Op::Ne},
                                                              {">", Op::Gt},  {"<", Op::Lt},  {"=", Op::Eq}};
            for (const auto &[t, op] : ops)
                if (rest.startsWith(QLatin1String(t))) {
                    n->op = op;
                    rest = rest.mid(qsizetype(strlen(t)));
                    break;
                }
            bool ok = false;
            n->value.number = rest.toDouble(&ok);
            if (!ok)
                return fail(at, QStringLiteral("\"%1\" needs a number after the comparison").arg(w));
            n->attr = Attr::Rating;
            n->value.kind = Value::Kind::Number;
        } else {
            n->attr = Attr::Any;
            n->value.pattern = Pattern::fromQuoted(w + QLatin1Char('*'));
            n->value.pattern.caseless = n->value.pattern.diacriticless = n->value.pattern.wordBased = true;
        }
        add(std::move(n));
    }
    if (!root)
        return fail(0, QStringLiteral("the query is empty"));
    out.root = std::move(root);
    return out;
}

} // namespace MdIndex
