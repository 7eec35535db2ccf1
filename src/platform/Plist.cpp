#include "platform/Plist.h"

#include <QDateTime>
#include <QTimeZone>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <plist/plist.h>

namespace Plist {

namespace {

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
    case PLIST_STRING:
    case PLIST_KEY: {
        char *s = nullptr;
        plist_get_string_val(node, &s);
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
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 ms = (qint64(sec) + kReferenceUnixSeconds) * 1000 + usec / 1000;
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
