#pragma once
// KLCoolerImageBrowserDelegate: the Cooler pane — the user's keep-shelf, in the user's order,
// kept in coolerItems.plist (KLCoolerStore) across runs. Adds reordering by drag, drops of
// files from any program, removal of items whose files went to the trash (at activation), and
// partial-path titles for equal display names. The store is read once at creation and written
// on the 1st, 8th, 15th … deactivation and at quit. Main thread only (its disk work is handed
// to KLCoolerStore's background pool).
#include "browser/KLImageBrowserViewDelegate.h"

class KLCoolerImageBrowserDelegate : public KLImageBrowserViewDelegate
{
    Q_OBJECT
public:
    static constexpr int kSaveEveryNthResignation = 7;

    // `storePath` empty: KLCoolerStore::pathForStateFile().
    explicit KLCoolerImageBrowserDelegate(const QString &storePath = {}, QObject *parent = nullptr);
    ~KLCoolerImageBrowserDelegate() override;

    QString pathForStateFile() const { return m_storePath; }
    void readState();
    bool writeState();

    KLPaneKind paneKind() const override { return KLPaneKind::Cooler; }
    void addItem(const KLItemPtr &item, int index) override;
    void imageBrowserRemoveKLItems(const QList<KLItemPtr> &items, bool moveToTrash) override;
    void imageBrowserMoveItemsAtIndexes(const QList<int> &indexes, int destination) override;
    bool acceptsDrops() const override { return true; }
    void performDrop(const QStringList &paths, int index) override;
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

private:
    QString m_storePath;
    int m_pendingTrashChecks = 0;
};
