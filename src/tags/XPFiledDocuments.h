#pragma once
// Filed documents: one folder tree where finished documents live, sorted by the day they were
// filed (root/year/month/day in local time, or root/year/month), and a per-file managed mark
// (kMDItemLTManaged, a boolean kept through Lumitag).
//
// The root is the expansion of KPFiledDocumentsPath, else "~/Documents/Filed Documents"; the
// feature is in use when that setting exists or that folder exists. When it is not in use,
// filing moves files to the desktop folder. The root is cached while a GUI application runs
// and recomputed whenever the application becomes active; without one it is recomputed on
// each call. Nothing here shows a dialog.
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// Carries the in-process notifications of filing; nothing inside Kelso listens yet.
class XPFiledDocumentsNotifier : public QObject
{
    Q_OBJECT
public:
    static XPFiledDocumentsNotifier *instance();
Q_SIGNALS:
    void aboutToPerhapsMoveDocuments();
    // {"newPath": …, "oldPath": …}
    void documentPathChanged(const QVariantMap &change);
};

namespace XPFiledDocuments {

inline const QString kFiledDocumentsPathKey = QStringLiteral("KPFiledDocumentsPath");
inline const QString kUseYearMonthKey = QStringLiteral("KPUseYearMonthFiledDocs");

// What became of one item handed to filing.
struct FilingOutcome {
    enum Kind { Moved, Copied, MarkedInPlace, SkippedFolder, Failed };
    QString source;
    QString destination; // where the item is now (Moved, Copied, MarkedInPlace)
    Kind kind = Failed;
    // Moved or Copied, but the managed mark could not be written at the destination.
    bool markFailed = false;
    QString why; // for Failed, and for markFailed
};

bool usesFiledDocuments();
QString filedDocumentsRoot();
// Drops the cached root (the application became active, or a test changed the settings).
void forgetRoot();
QString filedDocumentsPathForDate(const QDateTime &date);
// Today's filing folder, created (with the managed mark false) when missing.
QString currentFiledDocumentsPath();
bool pathIsInFiledDocuments(const QString &path);
bool pathIsAlreadyInGoodPlaceInFiledDocuments(const QString &path);

// Files the items into today's folder and answers the paths they ended up at (files already
// in place are only marked and not listed; plain folders are left alone). Without forceMove,
// items in mail and photo libraries are not moved (only copied). A failed move falls
// back to a copy. Moves never replace anything and behave like mv across file systems; each is
// announced through XPFileMoveNotifier. `outcomes`, when given, receives one entry per item.
QStringList putFilesIntoFiledDocuments(const QStringList &paths, bool forceMove,
                                       QList<FilingOutcome> *outcomes = nullptr);

// Sets the mark (pacing each real write by 20 ms); true when it now reads back as requested.
bool setManaged(bool managed, const QString &path);
// The re-import check: true when the metadata index at `indexPath` holds a record of `path`
// whose mark is absent or differs from `managed` (the file is then nudged, so that the index
// reads it again). False without an index, without a record, or while the record waits for
// the index's content pass. Reads the index: not for the GUI thread.
bool indexDisagreesWithMark(const QString &path, bool managed, const QString &indexPath);
// The mark, or nullopt when the file has none (not managed).
std::optional<bool> managedMark(const QString &path);
bool pathsAreAllManaged(const QStringList &paths);
// Null QString for "none".
QString setToManagedCopyIfNeeded(const QString &path);
QString copyToFiledDocumentsAndSetManaged(const QString &path);
bool pathOKForManaged(const QString &path);

} // namespace XPFiledDocuments
