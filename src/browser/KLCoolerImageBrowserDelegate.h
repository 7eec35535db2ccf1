#pragma once
// KLCoolerImageBrowserDelegate: the Cooler pane — the user's keep-shelf, in the user's order,
// kept in coolerItems.plist (KLCoolerStore) across runs. Adds reordering by drag, drops of
// files from any program, removal of items whose files went to the trash (at activation), and
// partial-path titles for equal display names. The store is read once at creation and written
// a moment after every change (at most once a second), on the 1st, 8th, 15th … deactivation
// and at quit, so that a kill or a crash loses at most the last second. Main thread only (its
// disk work is handed to KLCoolerStore's background pool).
//
// The list holds at most 100 items. Adds from scripts and automatic adds take only what fits
// (addItemsThatFit); a drop or a menu add by the user asks before it pushes items out.
#include "browser/KLImageBrowserViewDelegate.h"

#include <functional>

class QTimer;

class KLCoolerImageBrowserDelegate : public KLImageBrowserViewDelegate
{
    Q_OBJECT
public:
    static constexpr int kSaveEveryNthResignation = 7;
    static constexpr int kSaveDelayMs = 1000;

    // `storePath` empty: KLCoolerStore::pathForStateFile().
    explicit KLCoolerImageBrowserDelegate(const QString &storePath = {}, QObject *parent = nullptr);
    ~KLCoolerImageBrowserDelegate() override;

    QString pathForStateFile() const { return m_storePath; }
    void readState();
    bool writeState();

    KLPaneKind paneKind() const override { return KLPaneKind::Cooler; }
    void addItem(const KLItemPtr &item, int index) override;
    // What the Cooler's items ask the program for; given to those there and those to come.
    void setItemServices(const KLItemServicesPtr &services);
    void imageBrowserRemoveKLItems(const QList<KLItemPtr> &items, bool moveToTrash) override;
    void imageBrowserMoveItemsAtIndexes(const QList<int> &indexes, int destination) override;
    bool acceptsDrops() const override { return true; }
    // A drop of files from any program. One that would push items out asks first, once the drop
    // is over.
    void performDrop(const QStringList &paths, int index) override;

    // Adds the items (made off the main thread) that fit without pushing anything out, as
    // addItems does; answers the paths of those that did not fit, in order.
    QStringList addItemsThatFit(const QList<KLItemPtr> &items, int index);
    QStringList addPathsThatFit(const QStringList &paths, int index);
    // An add the user asked for in the window (a drop, a menu): when it would push items out
    // of the full Cooler, asks first (the services' push-out question). Answers false when the
    // user declined (nothing added).
    bool addPathsAskingBeforePushingOut(const QStringList &paths, int index);
    static KLPushOutQuestion pushOutQuestion(int adding, int pushedOut);

    // The write that a change schedules (kSaveDelayMs after the first change that found none
    // pending, so at most one a second).
    bool savePending() const;
    void setSaveDelayForTesting(int msecs);
    void imageBrowserSelectionDidChange() override;

    // Removes the items whose files went to the trash. The files and the trash's records are
    // looked at on a background thread; the items go when the answer arrives on the main
    // thread (those removed or moved meanwhile are left alone).
    void removeItemsThatAreInTheTrash();
    bool trashCheckPending() const { return m_pendingTrashChecks > 0; }
    void checkForDuplicateDisplayNames();
    // Whether a path lies in a trash folder (a volume's .Trash-UID or the home trash).
    static bool pathIsInTrash(const QString &path);
    // The items' paths that went to the trash: in a trash folder, or missing from their place
    // and recorded as trashed from it (home trash, or the trash of the path's volume). Reads
    // the disk: call it off the main thread.
    static QStringList trashedPaths(const QList<KLItemPtr> &items);
    // Of these paths of missing files, those that a trash records as trashed from there.
    static QStringList missingFilesThatWereTrashed(const QStringList &paths);

    void itemOpenedInKelso(const KLItemPtr &) {}
    void applicationDidFinishLaunching();
    void applicationWillBecomeActive();
    void applicationDidBecomeActive() {}
    void applicationDidResignActive();
    void applicationWillTerminate();
    static int resignationCount();
    static void resetResignationCountForTesting();

Q_SIGNALS:
    // A write of the store was handed to the background pool (the list as it was then).
    void stateWriteStarted();

private:
    // Takes these items out of the Cooler (after a removal, or once their files are trashed).
    void removeLeavingItems(const QList<KLItemPtr> &leaving);
    void listChanged();
    void writeSoonElapsed();

    QString m_storePath;
    KLItemServicesPtr m_itemServices;
    QTimer *m_saveTimer = nullptr;
    int m_pendingTrashChecks = 0;
};
