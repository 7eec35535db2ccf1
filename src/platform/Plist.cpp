#include "platform/Plist.h"

#include <QDateTime>
#include <QTimeZone>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace Plist
{

namespace
{

struct PlistDeleter {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

constexpr qint64 kReferenceUnixSeconds = 978307200; // 2001-01-01T00:00:00Z

plist_t toNode(const QVariant &value, QString *error, int depth)
{
    if (depth > 256) {
        if (error)
            *error = QStringLiteral("value nested too deeply");
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

// libplist 2.2 aborts the process (an assertion) when it hands out a string or dictionary key
// that holds a NUL character, and damaged files do hold them (a block of zeros after a crash is
// the usual damage). So before parsing, walk the object table of a binary plist and refuse it
// when any string object contains NUL, or when the table itself is inconsistent.
bool binaryStringsAreSafe(const QByteArray &data, QString *why)
{
    const auto fail = [why](const char *reason) {
        *why = QString::fromLatin1(reason);
        return false;
    };
    const qsizetype n = data.size();
    if (n < 8 + 32)
        return fail("binary property list too short");
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const uchar *trailer = p + n - 32;
    const int offsetSize = trailer[6];
    const quint64 numObjects = readBigEndian(trailer + 8, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8)
        return fail("bad offset size in the binary property list trailer");
    if (tableOffset < 8 || tableOffset >= quint64(n - 32))
        return fail("bad offset table position in the binary property list");
    if (numObjects == 0 || numObjects > (quint64(n - 32) - tableOffset) / quint64(offsetSize))
        return fail("bad object count in the binary property list");
    for (quint64 i = 0; i < numObjects; ++i) {
        const quint64 offset = readBigEndian(p + tableOffset + i * offsetSize, offsetSize);
        if (offset < 8 || offset >= tableOffset)
            return fail("object offset outside the binary property list");
        const uchar marker = p[offset];
        const int type = marker >> 4;
        if (type != 0x5 && type != 0x6)
            continue;
        quint64 count = marker & 0x0f;
        quint64 start = offset + 1;
        if (count == 0x0f) {
            if (start >= tableOffset || (p[start] >> 4) != 0x1)
                return fail("bad string length in the binary property list");
            const int lenSize = 1 << (p[start] & 0x0f);
            if (lenSize > 8 || start + 1 + lenSize > tableOffset)
                return fail("bad string length in the binary property list");
            count = readBigEndian(p + start + 1, lenSize);
            start += 1 + lenSize;
        }
        const quint64 unit = type == 0x6 ? 2 : 1;
        if (count > (tableOffset - start) / unit)
            return fail("string runs past the end of the binary property list");
        for (quint64 k = 0; k < count; ++k) {
            const uchar *c = p + start + k * unit;
            if (c[0] == 0 && (unit == 1 || c[1] == 0))
                return fail("a string in the binary property list holds a NUL character");
        }
    }
    return true;
}

QVariant fromNode(plist_t node, int depth)
{
    if (!node || depth > 256)
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
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n; ++i)
            list.append(fromNode(plist_array_get_item(node, i), depth + 1));
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

QByteArray toBinary(const QVariant &value, QString *error)
{
    PlistPtr root(toNode(value, error, 0));
    if (!root)
        return {};
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

QVariant fromData(const QByteArray &data, QString *error)
{
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("empty data is not a property list");
        return {};
    }
    if (data.size() > qsizetype(UINT32_MAX)) {
        if (error)
            *error = QStringLiteral("property list too large");
        return {};
    }
    plist_t node = nullptr;
    if (isBinary(data)) {
        QString why;
        if (!binaryStringsAreSafe(data, &why)) {
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
