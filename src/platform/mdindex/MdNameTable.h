#pragma once
// All search-folded names in one UTF-8 buffer, for terms too short for the trigram table: a
// scan of the whole buffer with memmem takes a few milliseconds for a million names, where
// SQLite would read every row. Built from a Store; owned by one thread.
#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

namespace MdIndex {

class Store;

class NameTable
{
public:
    // Reloads when the index changed since the last load. Blocks on the disk.
    void refresh(Store &store);
    // Calls `f` with (id, folded name) of every name containing `foldedText`, in index order,
    // until it answers false.
    void forEachContaining(const QString &foldedText, const std::function<bool(qint64, const QString &)> &f) const;
    qsizetype size() const { return ids_.size(); }
    qsizetype bytes() const { return buffer_.size() + qsizetype(ids_.size() * (sizeof(qint64) + sizeof(quint32))); }

private:
    QByteArray buffer_;           // name\0name\0...
    std::vector<quint32> starts_; // offset of each name
    std::vector<qint64> ids_;
    qint64 version_ = -1;
};

} // namespace MdIndex
