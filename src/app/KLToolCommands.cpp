#include "app/KLToolCommands.h"

// One include and one table row per subsystem tool.

namespace KLToolCommands {

const QList<KLToolCommand> &all()
{
    static const QList<KLToolCommand> tools = {
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
