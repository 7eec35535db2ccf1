#pragma once
// Root-folder access. Kelso runs without file-access confinement, so every root test passes;
// a folder the user chooses as root is still recorded (as a path record) under
// KPRootFolderBookmarkData.
#include <QString>
#include <QUrl>
#include <optional>

namespace XPSandboxUtils {
bool fileSandboxInUse();
bool hasFullDiskAccess();
bool alreadyGrantedAccess();
QUrl rootAccessURL();
bool fileIsUnderRoot(const QString &path);

struct OpenPanelConfig {
    bool canChooseDirectories = false;
    bool canChooseFiles = true;
    bool allowsMultipleSelection = true;
    QString title, prompt, message;
};
// Fills a folder-chooser's texts and options; nothing for no panel.
void prepareNSOpenPanel(OpenPanelConfig *panel);

struct Error {
    QString domain;
    int code = 0;
    QString description;
};
// Records the chosen folder; answers no error on success.
std::optional<Error> handleUserSelectedURL(const QUrl &url);
// The recorded root folder, or empty.
QString rootFolderPath();
} // namespace XPSandboxUtils
