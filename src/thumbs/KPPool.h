#pragma once
// String interning and a locked dictionary keyed by interned strings.
//
// KPPool keeps one canonical QString per distinct text for the life of the process, so that the
// many copies of one path (events, items, cache keys) share one buffer and two canonical
// strings can be compared by identity (their data pointer). KPDictionary stores its values under
// the canonical object of each key and looks keys up by identity first; every operation takes
// the dictionary's own lock, so both may be used from any thread.
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <mutex>
#include <type_traits>

class KPPool
{
public:
    // Creates the pool up front (it is also created on first use).
    static void intializeGlobals();

    // The canonical object for `s`: `s` itself when it already is canonical, the stored object
    // when an equal string was seen before, else `s` becomes canonical. Null for null.
    static QString pooledString(const QString &s);
    static QString pooledStringCF(const QString &s) { return pooledString(s); }
    // The canonical object when one exists, else a null string (never adds).
    static QString existingPooledString(const QString &s);
    static QStringList pooledArrayOfStrings(const QStringList &list);
    static QStringList pooledArrayOfStringsFromURLs(const QList<QUrl> &urls);
    // Whether this very object is canonical (true for null).
    static bool isPooledString(const QString &s);
    static qsizetype count();
};

template <typename V> class KPDictionary
{
public:
    KPDictionary() = default;
    KPDictionary(const KPDictionary &) = delete;
    KPDictionary &operator=(const KPDictionary &) = delete;

    // Ignored for a null key or a "none" value (null string, empty pointer).
    void setValue(const V &value, const QString &key)
    {
        if (key.isNull() || isNone(value))
            return;
        const QString canonical = KPPool::pooledString(key);
        std::lock_guard lock(m_mutex);
        m_dict.insert(canonical.constData(), Entry{canonical, value});
    }
    // By identity of `key`; when that misses, by its canonical object. A default V on a miss.
    V valueForKey(const QString &key) const
    {
        V out{};
        find(key, &out);
        return out;
    }
    bool valueExistsForKey(const QString &key) const { return find(key, nullptr); }
    void removeValueForKey(const QString &key)
    {
        const QString canonical = KPPool::existingPooledString(key);
        if (canonical.isNull())
            return;
        std::lock_guard lock(m_mutex);
        m_dict.remove(canonical.constData());
    }
    void removeAllValues()
    {
        std::lock_guard lock(m_mutex);
        m_dict.clear();
    }
    QStringList allKeys() const
    {
        std::lock_guard lock(m_mutex);
        QStringList out;
        for (const Entry &e : m_dict)
            out.append(e.key);
        return out;
    }
    QList<V> allValues() const
    {
        std::lock_guard lock(m_mutex);
        QList<V> out;
        for (const Entry &e : m_dict)
            out.append(e.value);
        return out;
    }
    qsizetype count() const
    {
        std::lock_guard lock(m_mutex);
        return m_dict.size();
    }

private:
    struct Entry {
        QString key; // keeps the canonical buffer (and so the identity) alive
        V value;
    };
    template <typename T> static bool isNone(const T &v)
    {
        if constexpr (std::is_same_v<T, QString>)
            return v.isNull();
        else if constexpr (std::is_constructible_v<bool, T>)
            return !static_cast<bool>(v);
        else
            return false;
    }
    bool find(const QString &key, V *out) const
    {
        if (key.isNull())
            return false;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_dict.constFind(key.constData());
            if (it != m_dict.cend()) {
                if (out)
                    *out = it.value().value;
                return true;
            }
        }
        const QString canonical = KPPool::existingPooledString(key);
        if (canonical.isNull() || canonical.constData() == key.constData())
            return false;
        std::lock_guard lock(m_mutex);
        auto it = m_dict.constFind(canonical.constData());
        if (it == m_dict.cend())
            return false;
        if (out)
            *out = it.value().value;
        return true;
    }

    mutable std::mutex m_mutex;
    QHash<const QChar *, Entry> m_dict;
};
