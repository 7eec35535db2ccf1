#include "tags/Lumitag.h"

#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "platform/Xattr.h"
#include "util/Localized.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

// The desktop's tags attribute may be written by other programs with values larger than the
// Lumitag limit; the kernel's own maximum for one value is 64 KiB.
constexpr qsizetype kMaxSystemTagsSize = 65536;

QString lower(const QString &s)
{
    return s.toLower();
}

bool isStringVariant(const QVariant &v)
{
    return v.typeId() == QMetaType::QString;
}

bool isArrayVariant(const QVariant &v)
{
    return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList;
}

// The moment of a write, in microseconds since 1970, strictly later than the previous one
// this process handed out.
//
// Beside being the more exact time, a stamp of its own keeps the attribute blocks of files
// written together different. ext4 keeps the long Lumitag attributes in a block outside the
// inode and shares identical blocks between files; when a many-files write gave every file
// the same bytes, each write joined a shared block and freed its own, and freeing a block
// is a synchronous discard on file systems mounted with "discard": 50 times the cost of the
// attribute writes themselves.
qint64 uniqueStampMicroseconds()
{
    static std::atomic<qint64> last{0};
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    const qint64 now = qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    qint64 previous = last.load(std::memory_order_relaxed);
    qint64 next = 0;
    do {
        next = std::max(now, previous + 1);
    } while (!last.compare_exchange_weak(previous, next, std::memory_order_relaxed));
    return next;
}

// Writes a time stamp whose failure is ignored by every caller. An invalid `when` stamps the
// moment of the write (uniqueStampMicroseconds); a given date is written as it is.
void writeTimeStamp(const QDateTime &when, const QString &key, const QString &path)
{
    const qint64 us = when.isValid() ? when.toMSecsSinceEpoch() * 1000 : uniqueStampMicroseconds();
    QString why;
    const QByteArray bytes = Plist::binaryDate(us, &why);
    if (!why.isEmpty() || bytes.isEmpty() || bytes.size() > Lumitag::kMaxValueSize) {
        (void)Lumitag::setXAttrMetaData(when.isValid() ? when : QDateTime::currentDateTimeUtc(), key,
                                        path); // the slow path reports nothing either
        return;
    }
    int err = 0;
    (void)Xattr::set(path, Lumitag::spotlightKey(key), bytes, &err);
}

} // namespace

bool LumitagError::isPOSIX(int err) const
{
    return domain == kPOSIXErrorDomain && code == err;
}

// ---------------------------------------------------------------- naming and errors

QString Lumitag::spotlightKey(const QString &key)
{
    return QStringLiteral("com.apple.metadata:") + key;
}

QString Lumitag::errnoString(long err)
{
    char buf[1024];
    buf[0] = '\0';
    // GNU strerror_r may answer a static string instead of filling the buffer.
    const char *text = strerror_r(int(err), buf, sizeof buf);
    return QStringLiteral("errno error: %1, %2").arg(err).arg(QString::fromLocal8Bit(text ? text : buf));
}

LumitagError Lumitag::parameterError()
{
    return {kLumitagErrorDomain, -1, QStringLiteral("Lumitag parameter error")};
}

LumitagError Lumitag::posixError(int err)
{
    return {kPOSIXErrorDomain, err, errnoString(err)};
}

bool Lumitag::hasFileSystemRepresentation(const QString &path)
{
    // A path holding NUL or unpaired surrogates has no UTF-8 form: encoding it would name some
    // other file.
    if (path.isEmpty())
        return false;
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = path.at(i);
        if (c.isNull())
            return false;
        if (c.isHighSurrogate()) {
            if (i + 1 >= n || !path.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- raw attribute access

LumitagResult Lumitag::setXAttr(const QVariant &value, const QString &name, const QString &path)
{
    if (!hasFileSystemRepresentation(path) || name.isEmpty())
        return parameterError();

    int err = 0;
    if (!value.isValid()) {
        if (!Xattr::remove(path, name, &err))
            return posixError(err);
        return std::nullopt;
    }

    QString why;
    const QByteArray data = Plist::toBinary(value, &why);
    if (!why.isEmpty())
        return LumitagError{kLumitagErrorDomain, -2, why};
    if (data.size() > kMaxValueSize)
        return LumitagError{kLumitagErrorDomain, -5,
                            QStringLiteral("Meta data is too big - size as binary plist must be less than "
                                           "(perhaps 4k?) some number of bytes")};
    if (data.isEmpty()) {
        if (!Xattr::remove(path, name, &err))
            return posixError(err);
        return std::nullopt;
    }
    if (!Xattr::set(path, name, data, &err))
        return posixError(err);
    return std::nullopt;
}

QVariant Lumitag::getXAttr(const QString &name, const QString &path, LumitagResult *error)
{
    if (!hasFileSystemRepresentation(path) || name.isEmpty()) {
        if (error)
            *error = parameterError();
        return {};
    }
    QByteArray data;
    int err = 0;
    if (!Xattr::get(path, name, &data, &err, kMaxValueSize)) {
        if (error && err != ENODATA && err != EINVAL)
            *error = posixError(err);
        return {};
    }
    if (data.isEmpty())
        return {};
    QString why;
    QVariant value = Plist::fromData(data, &why);
    if (!value.isValid()) {
        if (error)
            *error = LumitagError{kLumitagErrorDomain, -2,
                                  why.isEmpty() ? QStringLiteral("the attribute is not a property list") : why};
        return {};
    }
    if (error)
        error->reset();
    return value;
}

// ---------------------------------------------------------------- metadata keys

LumitagResult Lumitag::setXAttrMetaData(const QVariant &value, const QString &key, const QString &path)
{
    return setXAttr(value, spotlightKey(key), path);
}

QVariant Lumitag::getXAttrMetaData(const QString &key, const QString &path, LumitagResult *error)
{
    return getXAttr(spotlightKey(key), path, error);
}

LumitagResult Lumitag::setNSArrayMetaData(const QVariant &value, const QString &key, const QString &path)
{
    if (!isArrayVariant(value))
        return parameterError();
    return setXAttrMetaData(QVariant(value.toList()), key, path);
}

QVariant Lumitag::getNSArrayMetaData(const QString &key, const QString &path, LumitagResult *error)
{
    const QVariant v = getXAttrMetaData(key, path, error);
    return isArrayVariant(v) ? v : QVariant();
}

// ---------------------------------------------------------------- tag lists

bool Lumitag::validateAsArrayOfStrings(const QVariant &object)
{
    if (object.typeId() == QMetaType::QStringList)
        return true;
    if (object.typeId() != QMetaType::QVariantList)
        return false;
    for (const QVariant &item : object.toList()) {
        if (!isStringVariant(item))
            return false;
    }
    return true;
}

QStringList Lumitag::decomposeArrayOfStrings(const QVariantList &array)
{
    QStringList out;
    out.reserve(array.size());
    for (const QVariant &item : array) {
        if (isStringVariant(item))
            out.append(item.toString().normalized(QString::NormalizationForm_D));
    }
    return out;
}

QVariant Lumitag::removeDuplicateTags(const QVariant &array)
{
    if (!array.isValid())
        return {};
    return QVariant(removeDuplicateTags(decomposeArrayOfStrings(array.toList())));
}

QStringList Lumitag::removeDuplicateTags(const QStringList &tags)
{
    QStringList decomposed;
    decomposed.reserve(tags.size());
    for (const QString &t : tags)
        decomposed.append(t.normalized(QString::NormalizationForm_D));
    QMap<QString, QString> dict;
    for (const QString &t : std::as_const(decomposed))
        dict.insert(lower(t), t);
    return orderedArrayWithDict(dict, decomposed);
}

QStringList Lumitag::orderedArrayWithDict(const QMap<QString, QString> &dict, const QStringList &sortHint)
{
    if (sortHint.isEmpty())
        return dict.values();
    QMap<QString, QString> left = dict;
    QStringList out;
    out.reserve(dict.size());
    for (const QString &hint : sortHint) {
        auto it = left.find(lower(hint));
        if (it != left.end()) {
            left.erase(it);
            out.append(hint);
        }
    }
    out.append(left.values());
    return out;
}

// ---------------------------------------------------------------- system tags

bool Lumitag::MavericksOrLater()
{
    return Defaults::standard().stringForKey(QStringLiteral("KLTagStore")) != QLatin1String("lumitag");
}

std::optional<QString> Lumitag::tagRefusedBySystemStore(const QStringList &tags)
{
    for (const QString &t : tags) {
        if (t.contains(QLatin1Char(',')))
            return t;
    }
    return std::nullopt;
}

std::optional<QStringList> Lumitag::getAppleTags(const QString &path, LumitagResult *error)
{
    if (!hasFileSystemRepresentation(path)) {
        if (error)
            *error = parameterError();
        return std::nullopt;
    }
    QByteArray data;
    int err = 0;
    // Nearly every tag list fits 4 KiB; only a larger one pays for the big buffer.
    bool got = Xattr::get(path, LumitagKeys::XdgTags, &data, &err, kMaxValueSize);
    if (!got && err == ERANGE)
        got = Xattr::get(path, LumitagKeys::XdgTags, &data, &err, kMaxSystemTagsSize);
    if (!got) {
        if (err == ENODATA) {
            if (error)
                error->reset();
            return QStringList();
        }
        if (error)
            *error = posixError(err);
        return std::nullopt;
    }
    const std::optional<QStringList> tags = parseSystemTags(data);
    if (!tags) {
        // Text that is not UTF-8 cannot be shown, and writing it back would destroy it.
        if (error)
            *error = LumitagError{kLumitagErrorDomain, -2,
                                  QStringLiteral("the file's tags (user.xdg.tags) are not valid UTF-8")};
        return std::nullopt;
    }
    if (error)
        error->reset();
    return tags;
}

std::optional<QStringList> Lumitag::parseSystemTags(const QByteArray &data)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(data);
    if (decoder.hasError())
        return std::nullopt;
    QStringList tags;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        const QString t = piece.trimmed();
        if (!t.isEmpty())
            tags.append(t);
    }
    return tags;
}

LumitagResult Lumitag::setAppleTags(const QStringList &tags, const QString &path)
{
    if (!hasFileSystemRepresentation(path))
        return parameterError();
    if (const auto refused = tagRefusedBySystemStore(tags))
        return LumitagError{kLumitagErrorDomain, -3, KLLocalized(QStringLiteral("KLTagHasComma"), {*refused})};
    int err = 0;
    if (tags.isEmpty()) {
        // KDE removes the attribute when the last tag goes.
        if (!Xattr::remove(path, LumitagKeys::XdgTags, &err) && err != ENODATA)
            return posixError(err);
        return std::nullopt;
    }
    // KDE compares tags by their exact text and its own input is composed (NFC): store the
    // composed form so a tag typed here and the same tag typed in Dolphin are one tag.
    QStringList composed;
    composed.reserve(tags.size());
    for (const QString &t : tags)
        composed.append(t.normalized(QString::NormalizationForm_C));
    const QByteArray data = composed.join(QLatin1Char(',')).toUtf8();
    if (!Xattr::set(path, LumitagKeys::XdgTags, data, &err))
        return posixError(err);
    return std::nullopt;
}

// ---------------------------------------------------------------- tags

std::optional<QStringList> Lumitag::getUserTags(const QString &path, LumitagResult *error)
{
    return getUserTagsIn(MavericksOrLater(), path, error);
}

std::optional<QStringList> Lumitag::getUserTagsIn(bool system, const QString &path, LumitagResult *error)
{
    if (system)
        return getAppleTags(path, error);
    if (!hasFileSystemRepresentation(path)) {
        if (error)
            *error = parameterError();
        return std::nullopt;
    }
    QByteArray data;
    int err = 0;
    if (!Xattr::get(path, spotlightKey(LumitagKeys::UserTags), &data, &err, kMaxValueSize) || data.isEmpty()) {
        if (err != 0 && err != ENODATA && err != EINVAL) {
            if (error)
                *error = posixError(err);
            return std::nullopt;
        }
        if (error)
            error->reset();
        return QStringList(); // no attribute: no tags
    }
    // Files written together carry the same bytes: parse each distinct value once.
    thread_local QByteArray cachedBytes;
    thread_local QStringList cachedTags;
    if (data == cachedBytes) {
        if (error)
            error->reset();
        return cachedTags;
    }
    QString why;
    const QVariant v = Plist::fromData(data, &why);
    if (!v.isValid()) {
        if (error)
            *error = LumitagError{kLumitagErrorDomain, -2,
                                  why.isEmpty() ? QStringLiteral("the attribute is not a property list") : why};
        return std::nullopt;
    }
    if (error)
        error->reset();
    QStringList out; // a value that is not an array: no tags
    if (isArrayVariant(v)) {
        for (const QVariant &item : v.toList()) {
            if (isStringVariant(item))
                out.append(item.toString());
        }
    }
    cachedBytes = data;
    cachedTags = out;
    return out;
}

LumitagResult Lumitag::setUserTags(const QVariant &tags, const QString &path)
{
    return setUserTags(tags, path, QDateTime());
}

LumitagResult Lumitag::setUserTags(const QVariant &tags, const QString &path, const QDateTime &atDate)
{
    if (!validateAsArrayOfStrings(tags))
        return LumitagError{kLumitagErrorDomain, -1, QStringLiteral("Lumitag SYNC parameter error")};
    QStringList list;
    if (tags.typeId() == QMetaType::QStringList) {
        list = tags.toStringList();
    } else {
        for (const QVariant &item : tags.toList())
            list.append(item.toString());
    }
    return setUserTagsIn(MavericksOrLater(), list, path, atDate);
}

LumitagResult Lumitag::setUserTagsIn(bool system, const QStringList &list, const QString &path, const QDateTime &atDate)
{
    if (!hasFileSystemRepresentation(path))
        return parameterError(); // before the stamp: a mangled name could be another file
    const QStringList normalised = removeDuplicateTags(list);

    // Refuse a tag the system store cannot hold before anything (even the stamp) is written.
    if (system) {
        if (tagRefusedBySystemStore(normalised))
            return setAppleTags(normalised, path);
    }
    writeTimeStamp(atDate, LumitagKeys::UserTagTime, path);
    if (system)
        return setAppleTags(normalised, path);

    // Writing one list to many files serialises it once.
    thread_local QStringList cachedTags;
    thread_local QByteArray cachedBytes;
    if (cachedBytes.isEmpty() || normalised != cachedTags) {
        QString why;
        QByteArray bytes = Plist::toBinary(QVariant(normalised), &why);
        if (!why.isEmpty() || bytes.isEmpty() || bytes.size() > kMaxValueSize)
            return setNSArrayMetaData(QVariant(normalised), LumitagKeys::UserTags, path); // reports why
        cachedTags = normalised;
        cachedBytes = bytes;
    }
    int err = 0;
    if (!Xattr::set(path, spotlightKey(LumitagKeys::UserTags), cachedBytes, &err))
        return posixError(err);
    return std::nullopt;
}

// ---------------------------------------------------------------- ratings

LumitagResult Lumitag::setRating(double rating, const QString &path)
{
    if (!hasFileSystemRepresentation(path))
        return parameterError();
    int err = 0;
    if (!(rating > 0)) { // also catches NaN
        LumitagResult result = setXAttrMetaData(QVariant(), LumitagKeys::StarRating, path);
        const bool balooRemoved = Xattr::remove(path, LumitagKeys::BalooRating, &err);
        if (result && result->isPOSIX(ENODATA) && balooRemoved)
            return std::nullopt; // the rating KDE kept is gone, so the file had one
        if (!result && !balooRemoved && err != ENODATA)
            return posixError(err);
        return result;
    }
    rating = std::min(rating, 5.0);
    writeTimeStamp(QDateTime(), LumitagKeys::RatingTime, path);
    if (LumitagResult result = setXAttrMetaData(rating, LumitagKeys::StarRating, path))
        return result;
    const int balooValue = int(std::lround(rating * 2.0));
    if (!Xattr::set(path, LumitagKeys::BalooRating, QByteArray::number(balooValue), &err))
        return posixError(err);
    return std::nullopt;
}

double Lumitag::getRating(const QString &path, LumitagResult *error)
{
    LumitagResult readError;
    const QVariant v = getXAttrMetaData(LumitagKeys::StarRating, path, &readError);
    if (readError) {
        if (error)
            *error = readError;
        return 0;
    }
    if (v.isValid()) {
        bool ok = false;
        const double r = v.toDouble(&ok);
        return ok && r > 0 ? std::min(r, 5.0) : 0;
    }
    QByteArray data;
    int err = 0;
    if (!Xattr::get(path, LumitagKeys::BalooRating, &data, &err, 64))
        return 0;
    bool ok = false;
    const int stars2 = data.trimmed().toInt(&ok);
    if (!ok || stars2 <= 0)
        return 0;
    return std::min(stars2, 10) / 2.0;
}

// ---------------------------------------------------------------- many files

QStringList Lumitag::getCommonUserTags(const QStringList &paths, LumitagResult *error)
{
    if (paths.isEmpty())
        return {};
    if (paths.size() == 1) {
        return getUserTags(paths.first(), error).value_or(QStringList());
    }
    QMap<QString, QString> common;
    QStringList hint;
    for (const QString &path : paths) {
        LumitagResult readError;
        const std::optional<QStringList> tags = getUserTags(path, &readError);
        if (readError || !tags || tags->isEmpty()) {
            if (error)
                *error = readError;
            return {};
        }
        if (common.isEmpty()) {
            hint = *tags;
            for (const QString &t : *tags)
                common.insert(lower(t), t);
        } else {
            QSet<QString> keys;
            for (const QString &t : *tags)
                keys.insert(lower(t));
            for (auto it = common.begin(); it != common.end();) {
                if (!keys.contains(it.key()))
                    it = common.erase(it);
                else
                    ++it;
            }
        }
        if (common.isEmpty())
            return {};
    }
    return orderedArrayWithDict(common, hint);
}

LumitagResult Lumitag::setCommonUserTags(const QStringList &paths, const QStringList &originalCommonTags,
                                         const QStringList &replaceWith)
{
    if (originalCommonTags.isEmpty() && replaceWith.isEmpty())
        return std::nullopt;
    QSet<QString> originalKeys;
    for (const QString &t : originalCommonTags)
        originalKeys.insert(lower(t));

    const bool system = MavericksOrLater();
    LumitagResult last;
    for (const QString &path : paths) {
        LumitagResult readError;
        const std::optional<QStringList> current = getUserTagsIn(system, path, &readError);
        if (readError || !current) {
            // Tags that could not be read are never overwritten: they would be lost.
            last = readError ? readError : LumitagResult(parameterError());
            continue;
        }
        if (*current == replaceWith)
            continue;
        QStringList merged;
        merged.reserve(current->size() + replaceWith.size());
        for (const QString &t : *current) {
            if (!originalKeys.contains(lower(t)))
                merged.append(t);
        }
        merged.append(replaceWith);
        if (LumitagResult writeError = setUserTagsIn(system, merged, path, QDateTime()))
            last = writeError;
    }
    return last;
}
