#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread (self-pipe), so that
// Kelso runs its normal termination (stores written, settings saved) when it is asked to stop.
#include <QObject>

class UnixSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; call once, after the application object exists.
    static UnixSignals &install();

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    UnixSignals();
};
