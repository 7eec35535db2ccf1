// Query text of the metadata index: the parser either answers a tree or an error, and every
// string value of a tree can be matched against names without running away.
#include "platform/mdindex/MdQuery.h"

#include <cstdint>
#include <cstdlib>

namespace {

void walk(const MdIndex::QueryNode &n, int depth)
{
    if (depth > 1000)
        std::abort(); // the parser bounds nesting
    if (n.left)
        walk(*n.left, depth + 1);
    if (n.right)
        walk(*n.right, depth + 1);
    if (n.kind == MdIndex::QueryNode::Kind::Compare && n.value.kind == MdIndex::Value::Kind::String) {
        const MdIndex::Pattern &p = n.value.pattern;
        for (const char *name : {"", "a", "Annual Report 2026.pdf", "Café Menü", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab"})
            (void)p.matches(QString::fromUtf8(name));
        (void)p.longestFoldedLiteral();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const MdIndex::ParsedQuery q = MdIndex::parseQuery(text, QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
    if (q.ok() == !q.error.isEmpty())
        std::abort(); // exactly one of a tree and an error
    if (q.ok())
        walk(*q.root, 0);
    return 0;
}
