#pragma once
// KLKelsoImageBrowserDelegate: the recent-files pane. Owns the collector (through
// KLRecentSource), pulls its ranked list when something may have changed (every 600 s, on
// the four exclusion settings, at activation with a burst 0.5, 3.5 and 13.5 s later, and, while
// the grid is on screen, after each record the collector accepts), lets
// the user step into a stack and back, and saves the collector's store on the 1st, 6th, 11th …
// deactivation and at quit. Main thread only.
#include "browser/KLImageBrowserViewDelegate.h"
#include "browser/KLRecentSource.h"

#include <QElapsedTimer>
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
    // The timers' updates: as updateChangedFiles(), but while a gesture is under way in the grid
    // it waits for the gesture's end.
    void checkForChangedFilesWhenIdle();

    // While the grid is on screen, every record the collector accepts brings the list up to date
    // (the first after a quiet second within kLiveCoalesceMs, then at most one a second).
    static constexpr int kLiveCoalesceMs = 150;
    static constexpr int kLiveMinIntervalMs = 1000;
    void collectorRecordedEvent();
    bool liveRefreshPending() const;
    bool gridIsOnScreen() const;
    bool undoLastRemoval() override;
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
    void liveRefresh();
    // The files shown inside the stack at `path`, newest first.
    QList<KLItemPtr> itemsInsideStack(const QString &path, const QSet<QString> &excluded);

    std::unique_ptr<KLRecentSource> _recentFiles;
    KLCoolerImageBrowserDelegate *m_cooler = nullptr;
    QString _currentPath;
    QString m_explanation;
    QTimer *m_periodic = nullptr;
    QTimer *m_liveTimer = nullptr;
    QTimer *m_idleCheck = nullptr;
    QElapsedTimer m_sinceLiveRefresh;
    bool m_terminated = false;
};
