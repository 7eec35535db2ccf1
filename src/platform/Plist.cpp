#include "platform/Plist.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <plist/plist.h>
#include <vector>

namespace Plist {

namespace {

struct PlistDeleter {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

constexpr qint64 kReferenceUnixSeconds = 978307200; // 2001-01-01T00:00:00Z

plist_t toNode(const QVariant &value, QString *error, int depth)
{
    if (depth >= kMaxDepth) {
        if (error)
            *error = QStringLiteral("value nested deeper than %1 levels").arg(kMaxDepth);
        return nullptr;
    }
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QByteArray utf8 = value.toString().toUtf8();
        return plist_new_string(utf8.constData());
    }
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kReferenceUnixSeconds * 1000;
        const qint64 sec = qint64(std::floor(ms / 1000.0));
        const qint64 usec = (ms - sec * 1000) * 1000;
        if (sec < INT32_MIN || sec > INT32_MAX) {
            if (error)
                *error = QStringLiteral("date outside the range a property list can hold");
            return nullptr;
        }
        return plist_new_date(int32_t(sec), int32_t(usec));
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant &item : value.toList()) {
            plist_t child = toNode(item, error, depth + 1);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t child = toNode(it.value(), error, depth + 1);
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    default:
        if (error)
            *error = QStringLiteral("no property-list form for a value of type %1")
                         .arg(QString::fromLatin1(value.typeName() ? value.typeName() : "invalid"));
        return nullptr;
    }
}

// The date of a node as seconds since 2001. libplist 2.2 keeps a date as a double but answers
// plist_get_date_val() with a truncated (seconds, |microseconds|) pair that loses the sign of
// dates less than a second before 2001 and rounds microseconds down. Its binary writer keeps
// the double, so read the 8-byte real back from the tiny binary plist of the date alone.
double dateSeconds(plist_t node)
{
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    double seconds = std::numeric_limits<double>::quiet_NaN();
    // "bplist00", then object 0: marker 0x33 (date) and a big-endian IEEE double.
    if (bin && length >= 17 && uchar(bin[8]) == 0x33) {
        quint64 bits = 0;
        for (int i = 0; i < 8; ++i)
            bits = (bits << 8) | uchar(bin[9 + i]);
        std::memcpy(&seconds, &bits, sizeof seconds);
    }
    if (bin)
        plist_to_bin_free(bin);
    if (std::isnan(seconds)) {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        seconds = sec < 0 ? sec - usec / 1e6 : sec + usec / 1e6;
    }
    return seconds;
}

quint64 readBigEndian(const uchar *p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Walks the object table of a binary plist before libplist parses it, and refuses it when:
// - a string object holds a NUL character (libplist 2.2 aborts the process, an assertion,
//   when it hands out such a string or dictionary key, and damaged files do hold them: a block
//   of zeros after a crash is the usual damage);
// - the table is inconsistent (offsets, lengths or references outside the file);
// - the objects reachable from the top nest deeper than kMaxDepth, expand to more than
//   kMaxValues values (libplist copies an object at every reference to it), or refer to
//   themselves. The walk keeps its own stack: depth never costs this thread stack.
bool binaryStructureIsSafe(const QByteArray &data, QString *why)
{
    const auto fail = [why](const QString &reason) {
        *why = reason;
        return false;
    };
    const qsizetype n = data.size();
    if (n < 8 + 32)
        return fail(QStringLiteral("binary property list too short"));
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const uchar *trailer = p + n - 32;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    const quint64 numObjects = readBigEndian(trailer + 8, 8);
    const quint64 topObject = readBigEndian(trailer + 16, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8)
        return fail(QStringLiteral("bad offset or reference size in the binary property list trailer"));
    if (tableOffset < 8 || tableOffset >= quint64(n - 32))
        return fail(QStringLiteral("bad offset table position in the binary property list"));
    if (numObjects == 0 || numObjects > (quint64(n - 32) - tableOffset) / quint64(offsetSize))
        return fail(QStringLiteral("bad object count in the binary property list"));
    if (numObjects > quint64(kMaxValues))
        return fail(QStringLiteral("binary property list holds more than %1 objects").arg(kMaxValues));
    if (topObject >= numObjects)
        return fail(QStringLiteral("bad top object in the binary property list"));

    // Children of every container, as ranges into one list of object numbers.
    std::vector<quint32> children;
    std::vector<quint64> firstChild(numObjects + 1, 0);
    for (quint64 i = 0; i < numObjects; ++i) {
        firstChild[i] = children.size();
        const quint64 offset = readBigEndian(p + tableOffset + i * offsetSize, offsetSize);
        if (offset < 8 || offset >= tableOffset)
            return fail(QStringLiteral("object offset outside the binary property list"));
        const uchar marker = p[offset];
        const int type = marker >> 4;
        const bool isString = type == 0x5 || type == 0x6;
        const bool isContainer = type == 0xA || type == 0xC || type == 0xD;
        if (!isString && !isContainer)
            continue;
        quint64 count = marker & 0x0f;
        quint64 start = offset + 1;
        if (count == 0x0f) {
            if (start >= tableOffset || (p[start] >> 4) != 0x1)
                return fail(QStringLiteral("bad length in the binary property list"));
            const int lenSize = 1 << (p[start] & 0x0f);
            if (lenSize > 8 || start + 1 + lenSize > tableOffset)
                return fail(QStringLiteral("bad length in the binary property list"));
            count = readBigEndian(p + start + 1, lenSize);
            start += 1 + lenSize;
        }
        if (isString) {
            const quint64 unit = type == 0x6 ? 2 : 1;
            if (count > (tableOffset - start) / unit)
                return fail(QStringLiteral("string runs past the end of the binary property list"));
            for (quint64 k = 0; k < count; ++k) {
                const uchar *c = p + start + k * unit;
                if (c[0] == 0 && (unit == 1 || c[1] == 0))
                    return fail(QStringLiteral("a string in the binary property list holds a NUL character"));
            }
            continue;
        }
        const quint64 refs = type == 0xD ? 2 * count : count;
        if (count > (tableOffset - start) / quint64(refSize) || refs > (tableOffset - start) / quint64(refSize))
            return fail(QStringLiteral("container runs past the end of the binary property list"));
        for (quint64 k = 0; k < refs; ++k) {
            const quint64 ref = readBigEndian(p + start + k * refSize, refSize);
            if (ref >= numObjects)
                return fail(QStringLiteral("reference to a missing object in the binary property list"));
            children.push_back(quint32(ref));
        }
        if (children.size() > size_t(kMaxValues))
            return fail(QStringLiteral("binary property list holds more than %1 values").arg(kMaxValues));
    }
    firstChild[numObjects] = children.size();

    // Depth-first from the top object. `values` counts an object with everything below it, as
    // libplist will build it (capped just past the limit, so the sums cannot overflow).
    enum : uchar { Unseen, OnPath, Done };
    std::vector<uchar> state(numObjects, Unseen);
    std::vector<int> depth(numObjects, 0);
    std::vector<qint64> values(numObjects, 0);
    struct Frame {
        quint32 object;
        quint64 next; // index into `children`
    };
    std::vector<Frame> path;
    path.push_back({quint32(topObject), firstChild[topObject]});
    state[topObject] = OnPath;
    while (!path.empty()) {
        Frame &top = path.back();
        if (top.next < firstChild[top.object + 1]) {
            const quint32 child = children[top.next++];
            if (state[child] == OnPath)
                return fail(QStringLiteral("an object of the binary property list contains itself"));
            if (state[child] == Unseen) {
                if (path.size() >= size_t(kMaxDepth))
                    return fail(QStringLiteral("property list nested deeper than %1 levels").arg(kMaxDepth));
                state[child] = OnPath;
                path.push_back({child, firstChild[child]});
            }
            continue;
        }
        // All children done: sum them up.
        const quint32 object = top.object;
        int deepest = 0;
        qint64 total = 1;
        for (quint64 k = firstChild[object]; k < firstChild[object + 1]; ++k) {
            deepest = std::max(deepest, depth[children[k]]);
            total = std::min(total + values[children[k]], kMaxValues + 1);
        }
        depth[object] = deepest + 1;
        values[object] = total;
        state[object] = Done;
        path.pop_back();
        if (depth[object] > kMaxDepth)
            return fail(QStringLiteral("property list nested deeper than %1 levels").arg(kMaxDepth));
        if (total > kMaxValues)
            return fail(QStringLiteral("property list expands to more than %1 values").arg(kMaxValues));
    }
    return true;
}

// The same limits for an XML plist, by scanning its tags: every element counts as a value and
// as a level (<key> too; the <plist> wrapper does not). libplist rejects what is not well
// formed, so the scan only needs to be right for documents that are, and never to crash or
// loop on ones that are not.
bool xmlStructureIsSafe(const QByteArray &data, QString *why)
{
    const char *p = data.constData();
    const char *const end = p + data.size();
    const auto find = [&end](const char *from, const char *what) -> const char * {
        const size_t len = std::strlen(what);
        for (const char *q = from; q + len <= end; ++q) {
            if (std::memcmp(q, what, len) == 0)
                return q + len;
        }
        return nullptr;
    };
    const auto isNameEnd = [](char c) {
        return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r';
    };
    const auto isPlistName = [&](const char *name) {
        return end - name >= 5 && std::memcmp(name, "plist", 5) == 0 && (end - name == 5 || isNameEnd(name[5]));
    };
    int depth = 0;
    qint64 elements = 0;
    while (p < end) {
        p = static_cast<const char *>(std::memchr(p, '<', size_t(end - p)));
        if (!p)
            break;
        const char *q = p + 1;
        if (q < end && *q == '?') {
            p = find(q, "?>");
        } else if (end - q >= 3 && std::memcmp(q, "!--", 3) == 0) {
            p = find(q + 3, "-->");
        } else if (end - q >= 8 && std::memcmp(q, "![CDATA[", 8) == 0) {
            p = find(q + 8, "]]>");
        } else if (q < end && *q == '!') {
            // A declaration; an internal subset in brackets may hold '>' of its own.
            int brackets = 0;
            for (p = q; p < end && (*p != '>' || brackets > 0); ++p)
                brackets += *p == '[' ? 1 : *p == ']' ? -1 : 0;
            p = p < end ? p + 1 : nullptr;
        } else if (q < end && *q == '/') {
            if (!isPlistName(q + 1) && depth > 0)
                --depth;
            p = static_cast<const char *>(std::memchr(q, '>', size_t(end - q)));
            p = p ? p + 1 : nullptr;
        } else {
            // A start tag, up to its '>' outside quoted attribute values.
            char quote = 0;
            const char *r = q;
            for (; r < end; ++r) {
                if (quote) {
                    quote = *r == quote ? 0 : quote;
                } else if (*r == '"' || *r == '\'') {
                    quote = *r;
                } else if (*r == '>') {
                    break;
                }
            }
            if (r >= end)
                break;
            const bool empty = r > q && r[-1] == '/';
            if (!isPlistName(q)) {
                if (++elements > kMaxValues) {
                    *why = QStringLiteral("property list holds more than %1 values").arg(kMaxValues);
                    return false;
                }
                if (depth + 1 > kMaxDepth) {
                    *why = QStringLiteral("property list nested deeper than %1 levels").arg(kMaxDepth);
                    return false;
                }
                if (!empty)
                    ++depth;
            }
            p = r + 1;
        }
        if (!p)
            break;
    }
    return true;
}

QVariant fromNode(plist_t node, int depth)
{
    if (!node || depth >= kMaxDepth) // the checks before parsing keep files within this
        return {};
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return QVariant(static_cast<qint64>(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return QVariant(d);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char *s = plist_get_string_ptr(node, &length);
        return QVariant(s ? QString::fromUtf8(s, qsizetype(length)) : QString());
    }
    case PLIST_KEY: {
        char *s = nullptr;
        plist_get_key_val(node, &s);
        QString text = s ? QString::fromUtf8(s) : QString();
        std::free(s);
        return QVariant(text);
    }
    case PLIST_DATA: {
        char *d = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        QByteArray bytes(d, qsizetype(len));
        std::free(d);
        return QVariant(bytes);
    }
    case PLIST_DATE: {
        const double seconds = dateSeconds(node);
        if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15)
            return {};
        const qint64 ms = kReferenceUnixSeconds * 1000 + std::llround(seconds * 1000.0);
        return QVariant(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
    }
    case PLIST_ARRAY: {
        // Walked with an iterator: libplist 2.2 finds the n-th item by following the list from
        // the start, which made reading a long array take time with the square of its length.
        QVariantList list;
        list.reserve(qsizetype(plist_array_get_size(node)));
        plist_array_iter iter = nullptr;
        plist_array_new_iter(node, &iter);
        if (!iter)
            return list;
        for (;;) {
            plist_t item = nullptr;
            plist_array_next_item(node, iter, &item);
            if (!item)
                break;
            list.append(fromNode(item, depth + 1));
        }
        std::free(iter);
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        if (!iter)
            return map;
        for (;;) {
            char *key = nullptr;
            plist_t child = nullptr;
            plist_dict_next_item(node, iter, &key, &child);
            if (!child) {
                std::free(key);
                break;
            }
            map.insert(QString::fromUtf8(key ? key : ""), fromNode(child, depth + 1));
            std::free(key);
        }
        std::free(iter);
        return map;
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return QVariant(static_cast<qint64>(v));
    }
    default:
        return {};
    }
}

} // namespace

bool isBinary(const QByteArray &data)
{
    return data.startsWith("bplist00");
}

// Serialises a built tree in the binary format; the tree stays owned by the caller.
static QByteArray writeBinary(const PlistPtr &root, QString *error)
{
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(static_cast<plist_t>(root.get()), &bin, &length);
    if (!bin) {
        if (error)
            *error = QStringLiteral("the property-list writer failed");
        return {};
    }
    QByteArray out(bin, qsizetype(length));
    plist_to_bin_free(bin);
    return out;
}

QByteArray toBinary(const QVariant &value, QString *error)
{
    PlistPtr root(toNode(value, error, 0));
    if (!root)
        return {};
    return writeBinary(root, error);
}

QByteArray binaryDate(qint64 microsecondsSinceEpoch, QString *error)
{
    const qint64 us = microsecondsSinceEpoch - kReferenceUnixSeconds * 1000000;
    const qint64 sec = us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000);
    const qint64 usec = us - sec * 1000000;
    if (sec < INT32_MIN || sec > INT32_MAX) {
        if (error)
            *error = QStringLiteral("date outside the range a property list can hold");
        return {};
    }
    PlistPtr root(plist_new_date(int32_t(sec), int32_t(usec)));
    return writeBinary(root, error);
}

QVariant fromData(const QByteArray &data, QString *error)
{
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("empty data is not a property list");
        return {};
    }
    if (data.size() > kMaxBytes) {
        if (error)
            *error = QStringLiteral("property list larger than %1 bytes").arg(kMaxBytes);
        return {};
    }
    plist_t node = nullptr;
    if (isBinary(data)) {
        QString why;
        if (!binaryStructureIsSafe(data, &why)) {
            if (error)
                *error = QStringLiteral("malformed binary property list: ") + why;
            return {};
        }
        plist_from_bin(data.constData(), uint32_t(data.size()), &node);
        if (!node && error)
            *error = QStringLiteral("malformed binary property list");
    } else {
        const QByteArray head = data.left(64).trimmed();
        if (!head.startsWith('<')) {
            if (error)
                *error = QStringLiteral("not a property list (neither binary nor XML)");
            return {};
        }
        QString why;
        if (!xmlStructureIsSafe(data, &why)) {
            if (error)
                *error = why;
            return {};
        }
        plist_from_memory(data.constData(), uint32_t(data.size()), &node);
        if (!node && error)
            *error = QStringLiteral("malformed XML property list");
    }
    if (!node)
        return {};
    PlistPtr root(node);
    QVariant value = fromNode(node, 0);
    if (!value.isValid() && error)
        *error = QStringLiteral("property list holds an unsupported value");
    return value;
}

} // namespace Plist
