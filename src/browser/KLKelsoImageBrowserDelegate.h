#pragma once
// KLKelsoImageBrowserDelegate: the recent-files pane. Owns the collector (through
// KLRecentSource), pulls its ranked list when something may have changed (every 600 s, on
// the four exclusion settings, and at activation with a burst 0.5, 3.5 and 13.5 s later), lets
// the user step into a stack and back, and saves the collector's store on the 1st, 6th, 11th …
// deactivation and at quit. Main thread only.
#include "browser/KLImageBrowserViewDelegate.h"
#include "browser/KLRecentSource.h"

#include <memory>

class KLCoolerImageBrowserDelegate;

class KLKelsoImageBrowserDelegate : public KLImageBrowserViewDelegate
{
    Q_OBJECT
public:
    static constexpr int kPeriodicSeconds = 600;
    static constexpr int kSaveEveryNthResignation = 5;

    explicit KLKelsoImageBrowserDelegate(std::unique_ptr<KLRecentSource> source, QObject *parent = nullptr);
    ~KLKelsoImageBrowserDelegate() override;

    KLRecentSource *recentFiles() const { return _recentFiles.get(); }
    // The pane whose first row is left out of the recent list.
    void setCoolerDelegate(KLCoolerImageBrowserDelegate *cooler) { m_cooler = cooler; }

    void checkForChangedFiles() { updateChangedFiles(); }
    void updateChangedFiles();
    void backAction();
    bool hasCurrentPath() const { return !_currentPath.isEmpty(); }
    QString currentPath() const { return _currentPath; }
    QString explanation() const { return m_explanation; }

    void imageBrowserRemoveKLItems(const QList<KLItemPtr> &items, bool moveToTrash) override;
    void removeItems(const QList<KLItemPtr> &items);
    void imageBrowserCellWasDoubleClickedAtIndex(int index) override;
    void imageBrowserSelectionDidChange() override;

    void applicationDidFinishLaunching();
    void applicationWillBecomeActive();
    void applicationDidBecomeActive();
    void applicationDidResignActive();
    void applicationWillTerminate();
    // The process-wide deactivation counter.
    static int resignationCount();
    static void resetResignationCountForTesting();

Q_SIGNALS:
    void hasCurrentPathChanged(bool hasCurrentPath);
    void explanationChanged(const QString &text);
    void itemOpenedInKelso(const KLItemPtr &item);

private:
    void setExplanation(const QString &text);
    // The files shown inside the stack at `path`, newest first.
    QList<KLItemPtr> itemsInsideStack(const QString &path, const QSet<QString> &excluded);

    std::unique_ptr<KLRecentSource> _recentFiles;
    KLCoolerImageBrowserDelegate *m_cooler = nullptr;
    QString _currentPath;
    QString m_explanation;
    QTimer *m_periodic = nullptr;
    bool m_terminated = false;
};
