#pragma once
// KLCoolerImageBrowserDelegate: the Cooler pane — the user's keep-shelf, in the user's order,
// kept in coolerItems.plist (KLCoolerStore) across runs. Adds reordering by drag, drops of
// files from any program, removal of items whose files went to the trash (at activation), and
// partial-path titles for equal display names. The store is read once at creation and written
// on the 1st, 8th, 15th … deactivation and at quit. Main thread only.
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

    void removeItemsThatAreInTheTrash();
    void checkForDuplicateDisplayNames();
    // Whether a path lies in a trash folder (a volume's .Trash-UID or the home trash).
    static bool pathIsInTrash(const QString &path);
    // A missing file whose original path is recorded in the home trash's info files.
    static bool missingFileWasTrashed(const QString &path);

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
};
