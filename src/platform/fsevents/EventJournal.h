#pragma once
// EventJournal: the persistent id counter and the capped record journal of the file-system
// event stream.
//
// File format (all integers little-endian):
//   header  : "KLFSJRNL" (8 bytes), u32 version (1), u32 reserved (0), f64 creation time
//             (Unix seconds)
//   entries : u32 payload length, u32 CRC-32 of the payload, payload
//   payload : u8 kind, u64 id, u32 flags, f64 time (Unix seconds), path bytes (rest)
// Kinds: 1 = a change record, 2 = a counter mark (the counter moved to `id` without records,
// e.g. the gap left below catch-up records), 3 = a stop mark (written when a stream stops;
// its time tells the next run since when it was not watching).
//
// Entries are appended with one write() each, so a crash leaves at most a short tail, which
// the next open cuts off. A wrong header or an entry whose checksum does not match is
// corruption: the file is moved aside as "<name>.corrupt-<time>", logged once, and a fresh
// journal starts whose counter continues above the highest id that could still be read, so
// ids never go backwards. When the journal holds more than maxRecords() change records it is
// rewritten (temporary file + rename) with the newest half.
//
// Owned by one stream; the members are thread-safe (one mutex), currentId() is lock-free.
#include "util/UniqueFd.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace KLFSEvents {

struct JournalRecord {
    quint64 id = 0;
    quint32 flags = 0;
    double time = 0; // Unix seconds
    QByteArray path; // raw file-system bytes
};

class EventJournal
{
public:
    static constexpr int kDefaultMaxRecords = 50000;

    explicit EventJournal(const QString &folder, const QString &fileName = QStringLiteral("fsevents.journal"));
    ~EventJournal();
    EventJournal(const EventJournal &) = delete;
    EventJournal &operator=(const EventJournal &) = delete;

    // Loads (or creates) the journal. False only when the folder or file cannot be written;
    // the journal then keeps working in memory (ids still grow, nothing persists).
    bool open();

    QString path() const { return m_path; }
    // The last id handed out (0 for a fresh journal).
    quint64 currentId() const { return m_current.load(); }
    // Time of the newest entry of the previous run (record or stop mark), Unix seconds;
    // 0 when there was no usable journal (first run or corrupt file).
    double previousRunEnd() const { return m_previousRunEnd; }
    // Where a corrupt journal was moved at open(); empty when none was.
    QString corruptMovedTo() const { return m_corruptMovedTo; }
    int recordCount() const;

    // Assigns ids (current + 1, + 2, ...) to the records in order and appends them.
    void append(std::vector<JournalRecord> &records);
    // Moves the counter forward by `gap` without records and persists that.
    void skip(quint64 gap);
    // Raises the counter to at least `id` (a client holds an id this journal has not reached,
    // e.g. after the journal was lost).
    void raiseTo(quint64 id);
    void writeStopMark(double unixTime);
    // Change records with id > `afterId`, oldest first (read from the file).
    std::vector<JournalRecord> recordsAfter(quint64 afterId) const;

    void setMaxRecords(int max);
    int maxRecords() const;

private:
    struct Parsed;
    bool parse(const QByteArray &data, Parsed *out) const;
    void appendEntryLocked(quint8 kind, quint64 id, quint32 flags, double time, const QByteArray &path);
    void compactLocked();
    bool createFreshLocked(double now);

    QString m_folder;
    QString m_path;
    mutable std::mutex m_mutex;
    std::atomic<quint64> m_current{0};
    double m_previousRunEnd = 0;
    QString m_corruptMovedTo;
    UniqueFd m_fd;
    int m_records = 0;
    int m_maxRecords = kDefaultMaxRecords;
    bool m_warnedWrite = false;
};

// CRC-32 (IEEE 802.3), as zlib computes it.
quint32 crc32Of(const char *data, size_t len);

} // namespace KLFSEvents
