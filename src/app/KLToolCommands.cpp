#include "app/KLToolCommands.h"
#include "cooler/KLCoolerCommand.h"
#include "fileops/XPFileOpsCommands.h"
#include "recent/KLRecentCommand.h"
#include "search/KLSearchCommand.h"
#include "tags/KLTagCommands.h"
#include "thumbs/ThumbnailCommand.h"

// One include and one table row per subsystem tool.

namespace KLToolCommands {

const QList<KLToolCommand> &all()
{
    static const QList<KLToolCommand> tools = {
        {QStringLiteral("recent"), runRecentCommand},       {QStringLiteral("cooler"), runCoolerCommand},
        {QStringLiteral("tags"), runTagsCommand},           {QStringLiteral("rate"), runRateCommand},
        {QStringLiteral("file"), runFileCommand},           {QStringLiteral("managed"), runManagedCommand},
        {QStringLiteral("thumbnail"), runThumbnailCommand}, {QStringLiteral("open-with"), runOpenWithCommand},
        {QStringLiteral("rename"), runRenameCommand},       {QStringLiteral("never-show"), runNeverShowCommand},
        {QStringLiteral("search"), runSearchCommand},
    };
    return tools;
}

QStringList names()
{
    QStringList out;
    for (const KLToolCommand &t : all())
        out.append(t.name);
    return out;
}

const KLToolCommand *find(const QString &name)
{
    for (const KLToolCommand &t : all()) {
        if (t.name == name)
            return &t;
    }
    return nullptr;
}

} // namespace KLToolCommands
