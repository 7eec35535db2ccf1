#pragma once
// Start Kelso at login, through the per-user autostart folder. An entry counts as Kelso's when
// its program path begins with Kelso's own program path; entries of other copies elsewhere are
// neither counted nor removed.
#include <QString>

namespace DPOpenAtLogin {
// The path of the running program (overridable for tests).
QString applicationPath();
void setApplicationPathForTesting(const QString &path);

bool openAtLoginEnabled();
void toggleLoginItem();
bool loginItemExists(const QString &path);
bool enableLoginItem(const QString &path);
void disableLoginItem(const QString &path);
} // namespace DPOpenAtLogin
