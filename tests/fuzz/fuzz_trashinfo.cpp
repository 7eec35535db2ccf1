// Records of the freedesktop trash (*.trashinfo), written by every file manager: any bytes
// parse, and a record that parses names a place the trash may restore to.
#include "platform/Workspace.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<Workspace::TrashInfo> record = Workspace::parseTrashInfo(content);
    if (!record)
        return 0;
    if (record->path.isEmpty() || record->path.contains('\0'))
        std::abort();
    if (!record->path.startsWith('/')) {
        for (const QByteArray &part : record->path.split('/')) {
            if (part == "..")
                std::abort(); // a relative path stays below the trash's parent folder
        }
    }
    if (!record->deletionDate.isValid())
        std::abort();
    return 0;
}
