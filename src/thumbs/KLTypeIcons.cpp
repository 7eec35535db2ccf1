#include "thumbs/KLTypeIcons.h"

#include "platform/thumbnailer/IconTheme.h"
#include "util/KLProcessFlags.h"

#include <QCoreApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>
#include <QThreadPool>
#include <mutex>

namespace KLTypeIcons {

namespace {

constexpr qsizetype kMaxNames = 5000; // level 1 is emptied whole beyond this
constexpr qsizetype kMaxIcons = 500;  // level 2 likewise
const QString kDefaultType = QStringLiteral("application/octet-stream");

struct State {
    std::mutex lock;
    QHash<QString, QString> mimeByName; // nameKey() → MIME type name
    QHash<QString, QImage> iconByType;  // "type@size" → picture
    QHash<int, QImage> builtIn;         // size → the generic picture drawn in code
    QSet<QString> pending;              // "name@size" queued or running
    Resolver resolver;
    quint64 generation = 0; // bumped by clearForTesting, so stale look-ups store nothing
};

State &state()
{
    static State s;
    return s;
}

// One thread: look-ups are short and rare (once per name and type), and one at a time keeps
// the icon theme's own cache warm instead of having several threads load the same theme.
//
// The pool is drained when the application object goes away (a post routine), while Qt's image
// plugins still work: a pool destroyed among the static objects at exit would wait for a
// look-up that itself waits for the plugin loader's lock, which exit() may hold. So the pool is
// never destroyed; without an application object it is simply left running at exit.
QThreadPool &pool()
{
    static QThreadPool *p = [] {
        auto *created = new QThreadPool;
        created->setObjectName(QStringLiteral("Kelso type icons"));
        created->setMaxThreadCount(1);
        if (QCoreApplication::instance())
            qAddPostRoutine([] {
                pool().clear(); // queued look-ups are dropped; the running one finishes
                pool().waitForDone();
            });
        return created;
    }();
    return *p;
}

// Level 1 is keyed by what the type depends on: everything after the name's first dot (kept in
// its case: "*.C" and "*.c" are different types), or the whole name when it has no dot or
// starts with one. So all files of a well-known extension share one look-up.
QString nameKey(const QString &fileName)
{
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const QString name = slash < 0 ? fileName : fileName.mid(slash + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name;
    return QStringLiteral("*") + name.mid(dot);
}

// The name the MIME database is asked about for a key: a stand-in with the same extension.
QString nameForKey(const QString &key)
{
    return key.startsWith(QLatin1Char('*')) ? QStringLiteral("x") + key.mid(1) : key;
}

QString typeKey(const QString &mimeName, int size)
{
    return mimeName + QLatin1Char('@') + QString::number(size);
}

QImage builtInLocked(State &s, int size)
{
    auto it = s.builtIn.constFind(size);
    if (it != s.builtIn.cend())
        return *it;
    const QImage image = IconTheme::builtInDocumentIcon(size); // drawn in code, no disk
    if (s.builtIn.size() > 32)
        s.builtIn.clear();
    s.builtIn.insert(size, image);
    return image;
}

QImage genericLocked(State &s, int size)
{
    auto it = s.iconByType.constFind(typeKey(kDefaultType, size));
    return it != s.iconByType.cend() ? *it : builtInLocked(s, size);
}

// Worker side: the MIME type from the name's glob patterns (never from the file), then the
// theme's icon for it.
void resolve(const QString &name, int size, const QString &pendingKey, quint64 generation)
{
    State &s = state();
    QString mimeName;
    bool haveMime = false;
    bool haveIcon = false;
    Resolver resolver;
    {
        std::lock_guard guard(s.lock);
        auto it = s.mimeByName.constFind(name);
        if (it != s.mimeByName.cend()) {
            mimeName = *it;
            haveMime = true;
            haveIcon = s.iconByType.contains(typeKey(mimeName, size));
        }
        resolver = s.resolver;
    }
    const QMimeDatabase db;
    QMimeType mime;
    if (!haveMime) {
        mime = name.isEmpty() ? db.mimeTypeForName(kDefaultType)
                              : db.mimeTypeForFile(nameForKey(name), QMimeDatabase::MatchExtension);
        mimeName = mime.isValid() ? mime.name() : kDefaultType;
        std::lock_guard guard(s.lock);
        haveIcon = s.iconByType.contains(typeKey(mimeName, size));
    }
    QImage image;
    if (!haveIcon) {
        if (!mime.isValid())
            mime = db.mimeTypeForName(mimeName);
        QStringList names;
        if (mime.isValid() && !mime.isDefault())
            names << mime.iconName() << mime.genericIconName();
        names << QStringLiteral("text-x-generic");
        image = resolver ? resolver(mimeName, names, size) : IconTheme::icon(names, size);
        if (image.isNull())
            image = IconTheme::builtInDocumentIcon(size);
    }
    {
        std::lock_guard guard(s.lock);
        s.pending.remove(pendingKey);
        if (generation != s.generation)
            return;
        if (!haveMime) {
            if (s.mimeByName.size() >= kMaxNames)
                s.mimeByName.clear();
            s.mimeByName.insert(name, mimeName);
        }
        if (!haveIcon) {
            if (s.iconByType.size() >= kMaxIcons)
                s.iconByType.clear();
            s.iconByType.insert(typeKey(mimeName, size), image);
        }
    }
    KLProcessFlags::setNeedsRedraw();
}

// Queues a look-up unless one for the same name and size is pending. Called with the lock held.
void queueLocked(State &s, const QString &name, int size)
{
    const QString key = name + QLatin1Char('@') + QString::number(size);
    if (s.pending.contains(key))
        return;
    s.pending.insert(key);
    const quint64 generation = s.generation;
    pool().start([name, size, key, generation] { resolve(name, size, key, generation); });
}

} // namespace

QImage iconForFileName(const QString &fileName, int size, bool *exact)
{
    if (exact)
        *exact = false;
    if (size <= 0)
        return {};
    const QString name = nameKey(fileName);
    State &s = state();
    std::lock_guard guard(s.lock);
    auto m = s.mimeByName.constFind(name);
    if (m != s.mimeByName.cend()) {
        auto icon = s.iconByType.constFind(typeKey(*m, size));
        if (icon != s.iconByType.cend()) {
            if (exact)
                *exact = true;
            return *icon;
        }
    }
    queueLocked(s, name, size);
    if (!s.iconByType.contains(typeKey(kDefaultType, size)))
        queueLocked(s, QString(), size); // the theme's generic icon, for the next stand-ins
    return genericLocked(s, size);
}

QImage genericIcon(int size)
{
    if (size <= 0)
        return {};
    State &s = state();
    std::lock_guard guard(s.lock);
    if (!s.iconByType.contains(typeKey(kDefaultType, size)))
        queueLocked(s, QString(), size);
    return genericLocked(s, size);
}

bool waitForPending(int timeoutMs)
{
    return pool().waitForDone(timeoutMs);
}

void clearForTesting()
{
    State &s = state();
    std::lock_guard guard(s.lock);
    ++s.generation;
    s.mimeByName.clear();
    s.iconByType.clear();
    s.builtIn.clear();
}

void setResolverForTesting(Resolver resolver)
{
    State &s = state();
    std::lock_guard guard(s.lock);
    s.resolver = std::move(resolver);
}

} // namespace KLTypeIcons
