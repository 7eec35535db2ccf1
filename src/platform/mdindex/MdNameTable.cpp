#include "platform/mdindex/MdNameTable.h"

#include "platform/mdindex/MdStore.h"

#include <algorithm>
#include <cstring>

namespace MdIndex {

void NameTable::refresh(Store &store)
{
    const qint64 version = store.dataVersion();
    if (version == version_ && version >= 0)
        return;
    buffer_.clear();
    starts_.clear();
    ids_.clear();
    store.forEachFoldedName([this](qint64 id, const char *folded, int length) {
        starts_.push_back(quint32(buffer_.size()));
        ids_.push_back(id);
        buffer_.append(folded, length);
        buffer_.append('\0');
    });
    version_ = version;
}

void NameTable::forEachContaining(const QString &foldedText,
                                  const std::function<bool(qint64, const QString &)> &f) const
{
    const QByteArray needle = foldedText.toUtf8();
    if (needle.isEmpty() || needle.contains('\0'))
        return;
    const char *base = buffer_.constData();
    const char *end = base + buffer_.size();
    const char *at = base;
    while (at < end) {
        const void *hit = memmem(at, size_t(end - at), needle.constData(), size_t(needle.size()));
        if (!hit)
            return;
        const auto offset = quint32(static_cast<const char *>(hit) - base);
        const auto it = std::upper_bound(starts_.begin(), starts_.end(), offset) - 1;
        const size_t index = size_t(it - starts_.begin());
        const char *name = base + *it;
        const size_t length = strlen(name);
        if (!f(ids_[index], QString::fromUtf8(name, qsizetype(length))))
            return;
        at = name + length + 1; // next name
    }
}

} // namespace MdIndex
