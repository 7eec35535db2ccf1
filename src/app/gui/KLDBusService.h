#pragma once
// The object Kelso exports on the session bus (/com/tallow/kelso, com.tallow.kelso.App).
// Its slots are what the generated adaptor calls.
//
// The calls that hand files over (OpenFiles, AddToCooler, RemoveFromCooler) are answered later:
// their arguments are checked (KLCoolerArguments) and their items made on a thread of their own,
// one call after another in the order they came, and only the change of the Cooler's list runs
// on the main thread. A bad argument is answered with org.freedesktop.DBus.Error.InvalidArgs
// naming the first bad one, and nothing changes; files that do not fit in the full Cooler are
// left out and answered with com.tallow.kelso.Error.CoolerFull, naming how many.
#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QThreadPool>

class KLAppDelegate;

class KLDBusService : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    static constexpr const char *kCoolerFullError = "com.tallow.kelso.Error.CoolerFull";

    explicit KLDBusService(KLAppDelegate *delegate);
    // Claims the bus name and exports the object; false with *why when the name is taken or
    // there is no bus.
    bool registerOnSessionBus(QString *why);

public Q_SLOTS:
    void Show();
    void Hide();
    void Toggle();
    void Quit();
    void OpenFiles(const QStringList &paths);
    // Answered later, from the collector's thread, once the files were looked at.
    QString RecentItems(const QString &folder);
    QString ShownRecentItems();
    QString ShownSearchResults();
    QString RecentStatus();
    QString CoolerItems();
    void AddToCooler(const QStringList &paths, int index);
    void RemoveFromCooler(const QStringList &paths);
    // Moves made by another Kelso process: announced here as if this process had made them, so
    // the Cooler and the recent list follow. Pairs whose old path still exists or whose new one
    // does not are left out. Answered once the window has followed.
    void ItemsMoved(const QStringList &from, const QStringList &to);
    // Answered later: the search reads the index on the call thread.
    QString Search(const QString &text, const QString &kind, const QString &time, const QString &folder);

private:
    void changeCoolerLater(const QStringList &paths, int index, bool add, bool showWindow);

    KLAppDelegate *m_delegate;
    // One thread: calls are worked on in the order they came. Its destructor waits for them.
    QThreadPool m_callPool;
};
