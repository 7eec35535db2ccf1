#pragma once
// Lumitag: tags, ratings and other metadata kept in a file's extended attributes.
//
// Every value is a property-list object written as a binary plist 1.0 under the attribute
// "com.apple.metadata:<key>" (stored as "user.com.apple.metadata:<key>" by the xattr layer).
// Values are limited to 4096 bytes of serialised data; the limit is checked before anything
// is written, so an over-long value leaves the old content in place. Symbolic links are never
// followed: a link's own attributes are read and written (Linux refuses "user." attributes on
// links with EPERM, which comes back as the POSIX error).
//
// Tags live in one of two places, chosen by the setting KLTagStore:
//  - "system" (the default): the desktop's file tags, "user.xdg.tags", the comma-joined UTF-8
//    list Dolphin and Baloo read and write. A tag holding a comma cannot be stored there and is
//    refused with an error that names it.
//  - "lumitag": the array under kMDItemLTUserTags.
// Ratings are kept under kMDItemStarRating (0 < r <= 5); every rating write also keeps
// "user.baloo.rating" (twice the stars, 0-10) so KDE shows the same rating.
//
// Operations return an optional LumitagError: empty on success. Nothing here keeps state or
// logs; all functions may be called from any thread.
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

struct LumitagError {
    QString domain; // kLumitagErrorDomain or kPOSIXErrorDomain
    int code = 0;   // -1, -2, -3, -5 in the lumitag domain; errno in the POSIX domain
    QString info;   // the text kept under "info"

    bool isPOSIX(int err) const;
    bool operator==(const LumitagError &) const = default;
};
using LumitagResult = std::optional<LumitagError>;

inline const QString kLumitagErrorDomain = QStringLiteral("lumitag");
inline const QString kPOSIXErrorDomain = QStringLiteral("NSPOSIXErrorDomain");

namespace LumitagKeys {
inline const QString UserTags = QStringLiteral("kMDItemLTUserTags");
inline const QString UserTagTime = QStringLiteral("kMDItemLTUserTagTime");
inline const QString StarRating = QStringLiteral("kMDItemStarRating");
inline const QString RatingTime = QStringLiteral("kMDItemLTRatingTime");
inline const QString Managed = QStringLiteral("kMDItemLTManaged");
// Attributes shared with KDE (full names below the "user." namespace).
inline const QString XdgTags = QStringLiteral("xdg.tags");
inline const QString BalooRating = QStringLiteral("baloo.rating");
} // namespace LumitagKeys

class Lumitag
{
public:
    static constexpr qsizetype kMaxValueSize = 4096;

    // ---- naming and errors
    static QString spotlightKey(const QString &key); // "com.apple.metadata:" + key
    static QString errnoString(long err);            // "errno error: %ld, %s"
    static LumitagError parameterError();            // -1 "Lumitag parameter error"
    static LumitagError posixError(int err);

    // ---- raw attribute access (full attribute name, without "user.")
    // A null (invalid) value removes the attribute; removing one that is not there reports
    // the POSIX error ENODATA.
    static LumitagResult setXAttr(const QVariant &value, const QString &name, const QString &path);
    // Nothing (invalid QVariant) when absent or on error. *error is left untouched for a missing
    // attribute (ENODATA) and EINVAL, set for other failures, and cleared on success.
    static QVariant getXAttr(const QString &name, const QString &path, LumitagResult *error = nullptr);

    // ---- metadata-key access (the key is turned into spotlightKey(key))
    static LumitagResult setXAttrMetaData(const QVariant &value, const QString &key, const QString &path);
    static QVariant getXAttrMetaData(const QString &key, const QString &path, LumitagResult *error = nullptr);
    static LumitagResult setNSArrayMetaData(const QVariant &value, const QString &key, const QString &path);
    static QVariant getNSArrayMetaData(const QString &key, const QString &path, LumitagResult *error = nullptr);

    // ---- tag-list normalisation
    static bool validateAsArrayOfStrings(const QVariant &object);
    static QStringList decomposeArrayOfStrings(const QVariantList &array);
    // Strings only, NFD, the first spelling of each case-insensitive duplicate, in order of
    // first occurrence. An invalid QVariant gives an invalid QVariant.
    static QVariant removeDuplicateTags(const QVariant &array);
    static QStringList removeDuplicateTags(const QStringList &tags);
    // `dict` maps lower-cased tag -> tag; hint entries come first in their own spelling.
    static QStringList orderedArrayWithDict(const QMap<QString, QString> &dict, const QStringList &sortHint);

    // ---- tags and ratings
    // True when tags live in the desktop's file tags (KLTagStore is not "lumitag").
    static bool MavericksOrLater();
    // The desktop's file tags ("user.xdg.tags"); an empty list when the file has none.
    static std::optional<QStringList> getAppleTags(const QString &path, LumitagResult *error = nullptr);
    static LumitagResult setAppleTags(const QStringList &tags, const QString &path);
    // The tags in a "user.xdg.tags" value: split at ",", trimmed, empty parts skipped; nullopt
    // when the bytes are not UTF-8.
    static std::optional<QStringList> parseSystemTags(const QByteArray &data);
    // The first tag that the desktop's file tags cannot hold (it contains ","), if any.
    static std::optional<QString> tagRefusedBySystemStore(const QStringList &tags);

    static std::optional<QStringList> getUserTags(const QString &path, LumitagResult *error = nullptr);
    static LumitagResult setUserTags(const QVariant &tags, const QString &path);
    // An invalid atDate stamps the moment of the write (to the microsecond, unique per write).
    static LumitagResult setUserTags(const QVariant &tags, const QString &path, const QDateTime &atDate);
    static LumitagResult setUserTags(const QStringList &tags, const QString &path)
    {
        return setUserTags(QVariant(tags), path);
    }

    // Rating <= 0 removes it; above 5 is stored as 5.
    static LumitagResult setRating(double rating, const QString &path);
    // kMDItemStarRating, else the KDE rating, else 0.
    static double getRating(const QString &path, LumitagResult *error = nullptr);

    // Tags every file has, in the first file's order and spelling.
    static QStringList getCommonUserTags(const QStringList &paths, LumitagResult *error = nullptr);
    // Three-way merge: removes the original common tags and adds the new ones on every file,
    // keeping each file's other tags. Answers the most recent error.
    static LumitagResult setCommonUserTags(const QStringList &paths, const QStringList &originalCommonTags,
                                           const QStringList &replaceWith);

private:
    static bool hasFileSystemRepresentation(const QString &path);
    static std::optional<QStringList> getUserTagsIn(bool system, const QString &path, LumitagResult *error);
    static LumitagResult setUserTagsIn(bool system, const QStringList &tags, const QString &path,
                                       const QDateTime &atDate);
};

// A change to many files waiting for the user's confirmation.
struct XPDeltaTagsOperation {
    XPDeltaTagsOperation() = default;
    XPDeltaTagsOperation(const QStringList &paths, const QStringList &original, const QStringList &tags,
                         std::optional<double> rating)
        : filePaths(paths), originalTags(original), newTags(tags), newRating(rating)
    {
    }
    QStringList filePaths;
    QStringList originalTags;
    QStringList newTags;
    std::optional<double> newRating;
};
