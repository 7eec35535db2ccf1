#pragma once
// The object Kelso exports on the session bus (/com/tallow/kelso, com.tallow.kelso.App).
// Its slots are what the generated adaptor calls.
#include <QDBusContext>
#include <QObject>
#include <QStringList>

class KLAppDelegate;

class KLDBusService : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
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
    QString RecentStatus();
    QString CoolerItems();
    void AddToCooler(const QStringList &paths, int index);
    void RemoveFromCooler(const QStringList &paths);

private:
    KLAppDelegate *m_delegate;
};
