// Recursive-descent parser of the query language (grammar in MdQuery.h). Depth is bounded so
// that hostile text cannot exhaust the stack.
#include "platform/mdindex/MdQuery.h"

#include <QRegularExpression>

namespace MdIndex {
namespace {

constexpr int kMaxDepth = 200;

class Parser
{
public:
    Parser(const QString &text, const QDateTime &reference) : s(text), now(reference) {}

    ParsedQuery run()
    {
        ParsedQuery out;
        std::unique_ptr<QueryNode> root = expr(0);
        skipBlanks();
        if (root && pos < s.size())
            fail(QStringLiteral("unexpected \"%1\"").arg(s.mid(pos, 12)));
        if (!error.isEmpty()) {
            out.error = error;
            return out;
        }
        out.root = std::move(root);
        return out;
    }

private:
    const QString &s;
    QDateTime now;
    qsizetype pos = 0;
    QString error;

    std::unique_ptr<QueryNode> fail(const QString &what)
    {
        if (error.isEmpty())
            error = QStringLiteral("query error at character %1: %2").arg(pos).arg(what);
        return nullptr;
    }
    void skipBlanks()
    {
        while (pos < s.size() && s.at(pos).isSpace())
            ++pos;
    }
    bool eat(QLatin1StringView token)
    {
        skipBlanks();
        if (QStringView(s).mid(pos).startsWith(token)) {
            pos += token.size();
            return true;
        }
        return false;
    }
    static std::unique_ptr<QueryNode> join(QueryNode::Kind kind, std::unique_ptr<QueryNode> l,
                                           std::unique_ptr<QueryNode> r)
    {
        auto n = std::make_unique<QueryNode>();
        n->kind = kind;
        n->left = std::move(l);
        n->right = std::move(r);
        return n;
    }

    std::unique_ptr<QueryNode> expr(int depth)
    {
        std::unique_ptr<QueryNode> l = conj(depth);
        while (l && eat(QLatin1StringView("||"))) {
            std::unique_ptr<QueryNode> r = conj(depth);
            if (!r)
                return nullptr;
            l = join(QueryNode::Kind::Or, std::move(l), std::move(r));
        }
        return l;
    }
    std::unique_ptr<QueryNode> conj(int depth)
    {
        std::unique_ptr<QueryNode> l = unary(depth);
        while (l && eat(QLatin1StringView("&&"))) {
            std::unique_ptr<QueryNode> r = unary(depth);
            if (!r)
                return nullptr;
            l = join(QueryNode::Kind::And, std::move(l), std::move(r));
        }
        return l;
    }
    std::unique_ptr<QueryNode> unary(int depth)
    {
        if (depth > kMaxDepth)
            return fail(QStringLiteral("nested too deeply"));
        skipBlanks();
        if (pos >= s.size())
            return fail(QStringLiteral("the query ends where a condition should follow"));
        if (s.at(pos) == QLatin1Char('!') && !QStringView(s).mid(pos).startsWith(QLatin1String("!="))) {
            ++pos;
            std::unique_ptr<QueryNode> inner = unary(depth + 1);
            return inner ? join(QueryNode::Kind::Not, std::move(inner), nullptr) : nullptr;
        }
        if (eat(QLatin1StringView("("))) {
            std::unique_ptr<QueryNode> inner = expr(depth + 1);
            if (!inner)
                return nullptr;
            if (!eat(QLatin1StringView(")")))
                return fail(QStringLiteral("missing \")\""));
            return inner;
        }
        return comparison();
    }

    QString identifier()
    {
        skipBlanks();
        const qsizetype start = pos;
        while (pos < s.size() && (s.at(pos).isLetterOrNumber() || s.at(pos) == QLatin1Char('_') ||
                                  s.at(pos) == QLatin1Char('.') || s.at(pos) == QLatin1Char(':')))
            ++pos;
        return s.mid(start, pos - start);
    }

    std::unique_ptr<QueryNode> comparison()
    {
        auto n = std::make_unique<QueryNode>();
        skipBlanks();
        QString name;
        if (s.at(pos) == QLatin1Char('*')) {
            ++pos;
            name = QStringLiteral("*");
        } else {
            name = identifier();
        }
        if (name.isEmpty())
            return fail(QStringLiteral("an attribute name should come here"));
        n->attr = attrForName(name);
        static const std::pair<const char *, Op> ops[] = {{"==", Op::Eq}, {"!=", Op::Ne}, {"<=", Op::Le},
                                                          {">=", Op::Ge}, {"<", Op::Lt},  {">", Op::Gt}};
        bool found = false;
        for (const auto &[text, op] : ops)
            if (eat(QLatin1StringView(text))) {
                n->op = op;
                found = true;
                break;
            }
        if (!found)
            return fail(QStringLiteral("a comparison (== != < <= > >=) should follow \"%1\"").arg(name));
        if (!value(&n->value))
            return nullptr;
        return n;
    }

    bool value(Value *v)
    {
        skipBlanks();
        if (pos >= s.size())
            return fail(QStringLiteral("a value should follow the comparison")), false;
        const QChar ch = s.at(pos);
        if (ch == QLatin1Char('"') || ch == QLatin1Char('\''))
            return quoted(ch, v);
        if (ch == QLatin1Char('$'))
            return timeValue(v);
        if (ch.isDigit() || ch == QLatin1Char('-') || ch == QLatin1Char('+') || ch == QLatin1Char('.')) {
            const qsizetype start = pos++;
            while (pos < s.size() && (s.at(pos).isDigit() || s.at(pos) == QLatin1Char('.')))
                ++pos;
            return number(s.mid(start, pos - start), v);
        }
        const QString word = identifier();
        if (word.isEmpty())
            return fail(QStringLiteral("a value should follow the comparison")), false;
        v->kind = Value::Kind::String;
        v->pattern = Pattern::fromQuoted(word);
        return true;
    }
    bool number(const QString &text, Value *v)
    {
        bool ok = false;
        v->number = text.toDouble(&ok);
        v->kind = Value::Kind::Number;
        if (!ok)
            fail(QStringLiteral("\"%1\" is not a number").arg(text));
        return ok;
    }
    bool quoted(QChar quote, Value *v)
    {
        ++pos;
        QString raw;
        while (pos < s.size() && s.at(pos) != quote) {
            if (s.at(pos) == QLatin1Char('\\') && pos + 1 < s.size()) {
                // Keep wildcard escapes for the pattern; an escaped quote is just the quote.
                if (s.at(pos + 1) != quote)
                    raw.append(s.at(pos));
                ++pos;
            }
            raw.append(s.at(pos++));
        }
        if (pos >= s.size())
            return fail(QStringLiteral("a quoted value is not closed")), false;
        ++pos;
        v->kind = Value::Kind::String;
        v->pattern = Pattern::fromQuoted(raw);
        while (pos < s.size() && s.at(pos).isLetter()) {
            const QChar m = s.at(pos++);
            if (m == QLatin1Char('c'))
                v->pattern.caseless = true;
            else if (m == QLatin1Char('d'))
                v->pattern.diacriticless = true;
            else if (m == QLatin1Char('w'))
                v->pattern.wordBased = true;
            else
                return fail(QStringLiteral("unknown modifier \"%1\" (c, d and w are known)").arg(m)), false;
        }
        return true;
    }
    bool timeValue(Value *v)
    {
        static const QRegularExpression re(QStringLiteral("^\\$time\\.([a-z_]+)(?:\\(\\s*([+-]?\\d{1,6})\\s*\\))?"));
        const QRegularExpressionMatch m = re.match(QStringView(s).mid(pos));
        qint64 ms = 0;
        if (!m.hasMatch() || !timeExpression(m.captured(1), m.captured(2).toInt(), now, &ms))
            return fail(QStringLiteral("unknown time expression (use $time.now, today, yesterday, this_week, "
                                       "this_month or this_year, with an optional (n))")),
                   false;
        pos += m.capturedLength();
        v->kind = Value::Kind::Date;
        v->dateMs = ms;
        return true;
    }
};

} // namespace

ParsedQuery parseShortForm(const QString &text); // MdQueryShortForm.cpp

ParsedQuery parseQuery(const QString &text, const QDateTime &now)
{
    static const QRegularExpression shortForm(QStringLiteral("^\\s*[A-Za-z]+:"));
    if (shortForm.match(text).hasMatch())
        return parseShortForm(text);
    if (text.trimmed().isEmpty()) {
        ParsedQuery out;
        out.error = QStringLiteral("query error: the query is empty");
        return out;
    }
    return Parser(text, now).run();
}

} // namespace MdIndex
