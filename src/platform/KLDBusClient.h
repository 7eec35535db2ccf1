#pragma once
// The client side of Kelso's session-bus interface: command-line invocations talk to the
// running instance through these calls.
#include <QString>
#include <QVariantList>

namespace KLDBusClient {
inline constexpr const char *kService = "com.tallow.kelso";
inline constexpr const char *kPath = "/com/tallow/kelso";
inline constexpr const char *kInterface = "com.tallow.kelso.App";

// False with *why set when there is no session bus.
bool sessionBusAvailable(QString *why = nullptr);
// True when some process owns the name.
bool instanceRunning();
// True when the session bus can start Kelso on a call to its name (a service file is installed).
bool canBeStarted();
// Calls a method; false with *why set (no bus, not running, error reply). *result gets the
// first return value when there is one.
bool call(const QString &method, const QVariantList &args, QVariant *result = nullptr, QString *why = nullptr,
          int timeoutMs = 10000);
// Like call(), but when Kelso is not running and the bus can start it, the bus does so and the
// call reaches the new instance once it owns the name.
bool callStarting(const QString &method, QString *why = nullptr, int timeoutMs = 30000);
} // namespace KLDBusClient
