#pragma once
// KLSearchItem: one result of a search, a light wrapper around the index's record of the file
// (a QVariantMap with at least "kMDItemPath" and, usually, "kMDItemDisplayName"). It supplies
// the results grid with a path, a title, a subtitle (the folder line) and a picture.
//
// The picture comes through a KLItem made for the same path (`gridItem()`), which asks the
// item services' thumbnail queue once and keeps what arrives. The searcher reuses a
// KLSearchItem by path when its results are refreshed, so a result's thumbnail is asked for
// once, however often the live query reports.
//
// Main thread only (the record is copied in; nothing here reads the disk).
#include "recent/KLItem.h"
#include "recent/KLItemServices.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>

class KLSearchItem;
using KLSearchItemPtr = std::shared_ptr<KLSearchItem>;

class KLSearchItem
{
public:
    static const QString kItemPath;        // "kMDItemPath"
    static const QString kItemDisplayName; // "kMDItemDisplayName"

    // A result for an index record; `services` feed the picture (none: no picture).
    static KLSearchItemPtr create(const QVariantMap &mdItem, const KLItemServicesPtr &services = {});

    // Replaces the record; the same record again changes nothing. A record for another path
    // gets a new grid item (the picture belongs to the file).
    void setMDItem(const QVariantMap &mdItem);
    const QVariantMap &mdItem() const { return m_mdItem; }

    // The file's path (empty when the record holds none: such a result is never shown).
    QString path() const { return m_path; }
    // The display name, or the path's last component when the index gave none.
    QString title() const;
    // The folder line: the parent folder with the home folder as "~", and the prefix of
    // removable volumes ("/Volumes/", "/media/USER/", "/run/media/USER/") taken off so that
    // the disk's name comes first.
    QString subtitle() const;
    static QString subtitleForPath(const QString &path, const QString &home, const QString &userName);
    // The current user's login name, as the removable-volume folders use it.
    static QString userName();

    // The item the grid shows for this result (same path, the picture).
    KLItemPtr gridItem() const { return m_gridItem; }

    // A string attribute of the record, or none; a list attribute joined with ", "; a date
    // attribute (KLTime seconds or a QDateTime), or an invalid date.
    QString getAttribute(const QString &key) const;
    QString getArrayAttribute(const QString &key) const;
    QDateTime getDateAttribute(const QString &key) const;

    // With includeSelf the path and each enclosing folder, otherwise only the enclosing
    // folders, innermost first, up to but not including "/".
    QStringList arrayOfPaths(bool includeSelf) const;
    static QStringList pathsForItems(const QList<KLSearchItemPtr> &items);

private:
    KLSearchItem() = default;

    QVariantMap m_mdItem;
    QString m_path;
    KLItemPtr m_gridItem;
    KLItemServicesPtr m_services;
};
