#pragma once
// The query language the program builds, parsed into a tree:
//
//   expr   := and ("||" and)*          and := unary ("&&" unary)*
//   unary  := "!" unary | "(" expr ")" | attr op value
//   op     := == != < <= > >=
//   attr   := identifier | "*"        ("*" is any text attribute: names, tags and text content)
//   value  := "text"mods | 'text'mods | number | bare-word | $time.NAME[(n)]
//
// String values take "*"/"?" wildcards ("\" escapes) and the c/d/w modifiers (MdPattern.h).
// $time.now, today, yesterday, this_week, this_month, this_year take an optional signed offset
// in their own unit (seconds for now) and are read in the local time zone when parsed.
// Attributes not known to the index have no value: "==" never matches them, "!=" always does.
//
// The short form of the tag search, e.g.  tag: work tag: "two words" starrating:>=3,  is read
// when the text starts with "word:": each tag term requires that tag (ignoring case), the rating
// term compares the star rating, and any other word must start a word of a name or the text.
#include "platform/mdindex/MdPattern.h"

#include <QDateTime>
#include <QString>
#include <memory>

namespace MdIndex {

enum class Attr {
    Any,
    FSName,
    DisplayName,
    Path,
    ContentType,
    ContentTypeTree,
    ContentModificationDate,
    CreationDate,
    LastUsedDate,
    UserTags,
    Rating,
    TextContent,
    Size,
    SupportFileType,
    Unknown
};
enum class Op { Eq, Ne, Lt, Le, Gt, Ge };

struct Value {
    enum class Kind { String, Number, Date };
    Kind kind = Kind::String;
    Pattern pattern;   // String
    double number = 0; // Number
    qint64 dateMs = 0; // Date: milliseconds since the epoch
};

struct QueryNode {
    enum class Kind { And, Or, Not, Compare };
    Kind kind = Kind::Compare;
    std::unique_ptr<QueryNode> left, right; // And/Or: both; Not: left
    Attr attr = Attr::Unknown;
    Op op = Op::Eq;
    Value value;
};

struct ParsedQuery {
    std::unique_ptr<QueryNode> root; // null on error
    QString error;                   // "" on success; says what and where (character offset)
    bool ok() const { return root != nullptr; }
};

// `now` fixes the moment $time expressions are read against (local time zone).
ParsedQuery parseQuery(const QString &text, const QDateTime &now = QDateTime::currentDateTime());

// The value of $time.NAME with offset n at `now`, as milliseconds since the epoch; false for an
// unknown name.
bool timeExpression(const QString &name, int offset, const QDateTime &now, qint64 *msecs);

Attr attrForName(const QString &name);

} // namespace MdIndex
