#pragma once
// The local path a dragged or dropped URL names.
#include <QString>

class QUrl;

namespace FileUrls {

// The absolute path of a file URL of this machine ("file:///p" or "file://localhost/p"),
// percent escapes decoded; empty for other schemes and for another host's file
// ("file://host/p", which QUrl::toLocalFile() would turn into the share path "//host/p").
QString localPath(const QUrl &url);

// True for a "file:" URL of this machine: no host, or "localhost" in any case. Every reader of
// file URLs (drops, drags, the desktop's record of opened files) goes by this one rule.
bool namesThisMachine(const QUrl &url);

} // namespace FileUrls
