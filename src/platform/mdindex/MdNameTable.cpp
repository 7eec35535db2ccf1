#include "platform/mdindex/MdNameTable.h"

#include "platform/mdindex/MdStore.h"

#include <algorithm>
#include <cstring>

namespace MdIndex {

bool NameTable::isCurrent(Store &store) const
{
    return version_ >= 0 && store.dataVersion() == version_;
}

void NameTable::refresh(Store &store, bool withStoredNames)
{
    const qint64 version = store.dataVersion();
    if (version == version_ && version >= 0 && (withStored_ || !withStoredNames))
        return;
    folded_.clear();
    stored_.clear();
    starts_.clear();
    storedStarts_.clear();
    ids_.clear();
    displaySame_ = true;
    withStored_ = withStoredNames;
    store.forEachNameForms(withStoredNames, [this](const NameForms &n) {
        starts_.push_back(quint32(folded_.size()));
        ids_.push_back(n.id);
        folded_.append(n.folded, n.foldedLength);
        folded_.append('\0');
        if (withStored_) {
            storedStarts_.push_back(quint32(stored_.size()));
            stored_.append(n.name, n.nameLength);
            stored_.append('\0');
        }
        displaySame_ = displaySame_ && n.displayIsName;
    });
    version_ = version;
}

void NameTable::forEachContaining(const QString &foldedText,
                                  const std::function<bool(qint64, const QString &)> &f) const
{
    const QByteArray needle = foldedText.toUtf8();
    if (needle.isEmpty() || needle.contains('\0'))
        return;
    const char *base = folded_.constData();
    const char *end = base + folded_.size();
    const char *at = base;
    while (at < end) {
        const void *hit = memmem(at, size_t(end - at), needle.constData(), size_t(needle.size()));
        if (!hit)
            return;
        const auto offset = quint32(static_cast<const char *>(hit) - base);
        const auto it = std::upper_bound(starts_.begin(), starts_.end(), offset) - 1;
        const size_t index = size_t(it - starts_.begin());
        const char *entry = base + *it;
        const size_t length = strlen(entry);
        if (!f(ids_[index], QString::fromUtf8(entry, qsizetype(length))))
            return;
        at = entry + length + 1; // next name
    }
}

qint64 NameTable::countContaining(Form form, const QByteArray &needle,
                                  const std::function<bool(qsizetype)> &accept) const
{
    if (needle.contains('\0') || (form == Form::AsStored && !withStored_))
        return 0;
    const QByteArray &buffer = form == Form::Folded ? folded_ : stored_;
    const std::vector<quint32> &starts = form == Form::Folded ? starts_ : storedStarts_;
    const char *at = buffer.constData();
    const char *const end = at + buffer.size(); // every name ends with '\0', the last one too
    qint64 n = 0;
    while (at < end) {
        const char *hit =
            needle.isEmpty()
                ? at
                : static_cast<const char *>(memmem(at, size_t(end - at), needle.constData(), size_t(needle.size())));
        if (!hit)
            break;
        // The name around the hit: back to the previous terminator (names are short), on to the next.
        const char *start = hit;
        while (start > at && start[-1] != '\0')
            --start;
        const char *stop = static_cast<const char *>(memchr(hit, '\0', size_t(end - hit)));
        if (!accept)
            ++n;
        else if (accept(std::upper_bound(starts.begin(), starts.end(), quint32(start - buffer.constData())) -
                        starts.begin() - 1))
            ++n;
        at = stop + 1;
    }
    return n;
}

QString NameTable::name(Form form, qsizetype index) const
{
    const QByteArray &buffer = form == Form::Folded ? folded_ : stored_;
    const std::vector<quint32> &starts = form == Form::Folded ? starts_ : storedStarts_;
    if (index < 0 || size_t(index) >= starts.size())
        return {};
    const char *entry = buffer.constData() + starts[size_t(index)];
    return QString::fromUtf8(entry, qsizetype(strlen(entry)));
}

} // namespace MdIndex
