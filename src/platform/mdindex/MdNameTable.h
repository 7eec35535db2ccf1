#pragma once
// All search-folded names in one UTF-8 buffer, for terms too short for the trigram table: a
// scan of the whole buffer with memmem takes a few milliseconds for a million names, where
// SQLite would read every row. On request the names as stored (their own case and accents) are
// kept too, in a second buffer of the same layout, for counts of queries that respect case,
// accents or camelCase word starts. Built from a Store; owned by one thread.
#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

namespace MdIndex {

class Store;

class NameTable
{
public:
    enum class Form { Folded, AsStored };
    // Reloads when the index changed since the last load (or when the names as stored are
    // wanted and not loaded). Blocks on the disk.
    void refresh(Store &store, bool withStoredNames = false);
    // True when the last load still reflects the index (no reload needed).
    bool isCurrent(Store &store) const;
    // Calls `f` with (id, folded name) of every name containing `foldedText`, in index order,
    // until it answers false.
    void forEachContaining(const QString &foldedText, const std::function<bool(qint64, const QString &)> &f) const;
    // How many names of `form` contain the bytes `needle` ("" : every name) and, when `accept`
    // is set, are accepted by it (it is given the name's position, for name()). AsStored needs
    // refresh(store, true).
    qint64 countContaining(Form form, const QByteArray &needle,
                           const std::function<bool(qsizetype)> &accept = {}) const;
    QString name(Form form, qsizetype index) const;
    // False when some entry's display name differs from its file name (the table holds the
    // file names; the folded buffer is made from the display names).
    bool displayNamesAreFileNames() const { return displaySame_; }
    bool hasStoredNames() const { return withStored_; }
    qsizetype size() const { return ids_.size(); }
    qsizetype bytes() const
    {
        return folded_.size() + stored_.size() + qsizetype(ids_.size() * (sizeof(qint64) + sizeof(quint32))) +
               qsizetype(storedStarts_.size() * sizeof(quint32));
    }

private:
    QByteArray folded_;                 // name\0name\0...
    QByteArray stored_;                 // the same names as stored, when loaded
    std::vector<quint32> starts_;       // offset of each name in folded_
    std::vector<quint32> storedStarts_; // and in stored_
    std::vector<qint64> ids_;
    qint64 version_ = -1;
    bool withStored_ = false;
    bool displaySame_ = true;
};

} // namespace MdIndex
