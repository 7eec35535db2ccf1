#include "platform/fsevents/EventJournal.h"

#include "platform/PlistFile.h"
#include "platform/StoreFile.h"
#include "util/Logging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace KLFSEvents {

namespace {
constexpr char kMagic[8] = {'K', 'L', 'F', 'S', 'J', 'R', 'N', 'L'};
constexpr quint32 kVersion = 1;
constexpr int kHeaderSize = 24;
constexpr int kEntryHead = 8;
constexpr int kPayloadFixed = 1 + 8 + 4 + 8;
constexpr quint32 kMaxPayload = 1u << 20; // paths are at most PATH_MAX; anything larger is garbage
enum Kind : quint8 { KindRecord = 1, KindCounter = 2, KindStop = 3 };

double nowUnix()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

template <typename T> void put(QByteArray &out, T v)
{
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T)); // the machines are little-endian; the format says so
    out.append(b, sizeof(T));
}
template <typename T> T get(const char *p)
{
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

QByteArray headerBytes(double created)
{
    QByteArray h(kMagic, 8);
    put<quint32>(h, kVersion);
    put<quint32>(h, 0);
    put<double>(h, created);
    return h;
}

QByteArray entryBytes(quint8 kind, quint64 id, quint32 flags, double time, const QByteArray &path)
{
    QByteArray payload;
    payload.reserve(kPayloadFixed + path.size());
    put<quint8>(payload, kind);
    put<quint64>(payload, id);
    put<quint32>(payload, flags);
    put<double>(payload, time);
    payload.append(path);
    QByteArray e;
    e.reserve(kEntryHead + payload.size());
    put<quint32>(e, quint32(payload.size()));
    put<quint32>(e, crc32Of(payload.constData(), size_t(payload.size())));
    e.append(payload);
    return e;
}

bool writeAll(int fd, const QByteArray &b)
{
    const char *p = b.constData();
    qsizetype left = b.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}
} // namespace

quint32 crc32Of(const char *data, size_t len)
{
    // Eight bytes a step ("slicing by 8"): every entry of a journal is checked when it opens, a
    // few megabytes when it is full, and a byte at a time took several times as long.
    static const auto tables = [] {
        std::array<std::array<quint32, 256>, 8> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (quint32 i = 0; i < 256; ++i)
            for (size_t s = 1; s < 8; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
        return t;
    }();
    const auto *p = reinterpret_cast<const uchar *>(data);
    quint32 crc = 0xFFFFFFFFu;
    for (; len >= 8; p += 8, len -= 8) {
        const quint32 lo = qFromLittleEndian<quint32>(p) ^ crc;
        const quint32 hi = qFromLittleEndian<quint32>(p + 4);
        crc = tables[7][lo & 0xFF] ^ tables[6][(lo >> 8) & 0xFF] ^ tables[5][(lo >> 16) & 0xFF] ^ tables[4][lo >> 24] ^
              tables[3][hi & 0xFF] ^ tables[2][(hi >> 8) & 0xFF] ^ tables[1][(hi >> 16) & 0xFF] ^ tables[0][hi >> 24];
    }
    for (; len > 0; --len, ++p)
        crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

struct EventJournal::Parsed {
    bool corrupt = false;
    QString why;
    qsizetype goodLength = 0; // bytes up to the end of the last whole, valid entry
    quint64 maxId = 0;
    double lastTime = 0;
    double created = 0;
    int records = 0;
    std::vector<JournalRecord> out; // filled only when asked for
    bool collect = false;
    quint64 after = 0;
};

EventJournal::EventJournal(const QString &folder, const QString &fileName)
    : m_folder(folder), m_path(folder + QLatin1Char('/') + fileName)
{
}

EventJournal::~EventJournal() = default;

bool EventJournal::parse(const QByteArray &data, Parsed *p) const
{
    if (data.size() < kHeaderSize || std::memcmp(data.constData(), kMagic, 8) != 0) {
        p->corrupt = true;
        p->why = QStringLiteral("no journal header");
        return false;
    }
    const quint32 version = get<quint32>(data.constData() + 8);
    if (version != kVersion) {
        p->corrupt = true;
        p->why = QStringLiteral("unknown journal version %1").arg(version);
        return false;
    }
    p->created = get<double>(data.constData() + 16);
    qsizetype pos = kHeaderSize;
    p->goodLength = pos;
    const qsizetype size = data.size();
    while (pos < size) {
        if (size - pos < kEntryHead)
            break; // torn tail
        const quint32 len = get<quint32>(data.constData() + pos);
        const quint32 crc = get<quint32>(data.constData() + pos + 4);
        if (len < quint32(kPayloadFixed) || len > kMaxPayload) {
            p->corrupt = true;
            p->why = QStringLiteral("bad entry length at offset %1").arg(pos);
            return false;
        }
        if (size - pos - kEntryHead < qsizetype(len))
            break; // torn tail: the last append did not complete
        const char *pl = data.constData() + pos + kEntryHead;
        if (crc32Of(pl, len) != crc) {
            p->corrupt = true;
            p->why = QStringLiteral("checksum mismatch at offset %1").arg(pos);
            return false;
        }
        const quint8 kind = get<quint8>(pl);
        const quint64 id = get<quint64>(pl + 1);
        const quint32 flags = get<quint32>(pl + 9);
        const double time = get<double>(pl + 13);
        if (kind < KindRecord || kind > KindStop) {
            p->corrupt = true;
            p->why = QStringLiteral("unknown entry kind %1 at offset %2").arg(kind).arg(pos);
            return false;
        }
        p->maxId = std::max(p->maxId, id);
        p->lastTime = std::max(p->lastTime, time);
        if (kind == KindRecord) {
            ++p->records;
            if (p->collect && id > p->after)
                p->out.push_back({id, flags, time, QByteArray(pl + kPayloadFixed, len - kPayloadFixed)});
        }
        pos += kEntryHead + len;
        p->goodLength = pos;
    }
    return true;
}

bool EventJournal::createFreshLocked(double now)
{
    m_fd.reset();
    QSaveFile f(m_path);
    if (!StoreFile::open(f, true))
        return false;
    QByteArray data = headerBytes(now);
    const quint64 cur = m_current.load();
    if (cur > 0)
        data += entryBytes(KindCounter, cur, 0, now, QByteArray());
    f.write(data);
    if (!f.commit())
        return false;
    m_records = 0;
    m_fd.reset(StoreFile::openForAppend(m_path));
    return m_fd.valid();
}

bool EventJournal::open()
{
    std::lock_guard lock(m_mutex);
    if (!StoreFile::preparePrivateFolder(m_folder))
        return false; // said why; the journal works in memory
    StoreFile::tightenMode(m_path);
    const double now = nowUnix();
    struct stat there {
    };
    if (::lstat(QFile::encodeName(m_path).constData(), &there) == 0) {
        // Read without following a link or waiting on a FIFO planted in its place.
        QByteArray data;
        QString why;
        if (!StoreFile::readAll(m_path, &data, &why)) {
            qCWarning(lcFsEvents, "event journal %s cannot be read (%s); starting a new one", qUtf8Printable(m_path),
                      qUtf8Printable(why));
        } else {
            Parsed p;
            parse(data, &p);
            m_current = p.maxId;
            if (p.corrupt) {
                // Never over a copy rescued earlier (in the same second): a no-replace rename.
                QString moveError;
                m_corruptMovedTo = PlistFile::moveAside(m_path, &moveError);
                if (!m_corruptMovedTo.isEmpty())
                    qCWarning(lcFsEvents, "event journal %s is damaged (%s); moved aside to %s, starting a new one",
                              qUtf8Printable(m_path), qUtf8Printable(p.why), qUtf8Printable(m_corruptMovedTo));
                else
                    qCWarning(lcFsEvents,
                              "event journal %s is damaged (%s) and cannot be moved aside (%s); starting a new one",
                              qUtf8Printable(m_path), qUtf8Printable(p.why), qUtf8Printable(moveError));
                // Ids already handed out (the readable part) must stay below new ones; a client
                // holding a higher id raises the counter with raiseTo().
            } else {
                m_previousRunEnd = p.lastTime > 0 ? p.lastTime : p.created;
                m_records = p.records;
                m_fd.reset(StoreFile::openForAppend(m_path));
                // The last append of the previous run was cut short: drop that tail.
                if (m_fd.valid() && p.goodLength < data.size() && ::ftruncate(m_fd.get(), p.goodLength) != 0)
                    qCWarning(lcFsEvents, "cannot cut the torn tail of %s: %s", qUtf8Printable(m_path),
                              strerror(errno));
                if (m_fd.valid()) {
                    if (m_records > m_maxRecords)
                        compactLocked();
                    return true;
                }
                qCWarning(lcFsEvents, "event journal %s cannot be written: %s", qUtf8Printable(m_path),
                          strerror(errno));
                return false;
            }
        }
    }
    if (!createFreshLocked(now)) {
        qCWarning(lcFsEvents, "event journal %s cannot be created; event ids will not survive a restart",
                  qUtf8Printable(m_path));
        return false;
    }
    return true;
}

int EventJournal::recordCount() const
{
    std::lock_guard lock(m_mutex);
    return m_records;
}

void EventJournal::appendEntryLocked(quint8 kind, quint64 id, quint32 flags, double time, const QByteArray &path)
{
    if (!m_fd.valid())
        return;
    if (!writeAll(m_fd.get(), entryBytes(kind, id, flags, time, path)) && !m_warnedWrite) {
        m_warnedWrite = true;
        qCWarning(lcFsEvents, "cannot append to the event journal %s: %s", qUtf8Printable(m_path), strerror(errno));
    }
}

void EventJournal::append(std::vector<JournalRecord> &records)
{
    if (records.empty())
        return;
    std::lock_guard lock(m_mutex);
    quint64 id = m_current.load();
    QByteArray buf;
    for (JournalRecord &r : records) {
        r.id = ++id;
        buf += entryBytes(KindRecord, r.id, r.flags, r.time, r.path);
    }
    // One write for the whole batch: a crash leaves whole entries and at most one torn tail.
    if (m_fd.valid() && !writeAll(m_fd.get(), buf) && !m_warnedWrite) {
        m_warnedWrite = true;
        qCWarning(lcFsEvents, "cannot append to the event journal %s: %s", qUtf8Printable(m_path), strerror(errno));
    }
    m_current = id;
    m_records += int(records.size());
    if (m_records > m_maxRecords)
        compactLocked();
}

void EventJournal::skip(quint64 gap)
{
    std::lock_guard lock(m_mutex);
    m_current = m_current.load() + gap;
    appendEntryLocked(KindCounter, m_current.load(), 0, nowUnix(), QByteArray());
}

void EventJournal::raiseTo(quint64 id)
{
    std::lock_guard lock(m_mutex);
    if (id <= m_current.load())
        return;
    m_current = id;
    appendEntryLocked(KindCounter, id, 0, nowUnix(), QByteArray());
}

void EventJournal::writeStopMark(double unixTime)
{
    std::lock_guard lock(m_mutex);
    appendEntryLocked(KindStop, m_current.load(), 0, unixTime, QByteArray());
    if (m_fd.valid())
        ::fdatasync(m_fd.get());
}

std::vector<JournalRecord> EventJournal::recordsAfter(quint64 afterId) const
{
    std::lock_guard lock(m_mutex);
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    Parsed p;
    p.collect = true;
    p.after = afterId;
    parse(f.readAll(), &p);
    return std::move(p.out); // a damaged part (written since open) ends the replay there
}

void EventJournal::setMaxRecords(int max)
{
    std::lock_guard lock(m_mutex);
    m_maxRecords = std::max(2, max);
    if (m_records > m_maxRecords)
        compactLocked();
}

int EventJournal::maxRecords() const
{
    std::lock_guard lock(m_mutex);
    return m_maxRecords;
}

void EventJournal::compactLocked()
{
    QByteArray data;
    if (!StoreFile::readAll(m_path, &data, nullptr))
        return;
    Parsed p;
    p.collect = true;
    parse(data, &p);
    const size_t keep = size_t(std::max(1, m_maxRecords / 2));
    const size_t from = p.out.size() > keep ? p.out.size() - keep : 0;
    const double now = nowUnix();
    data = headerBytes(p.created > 0 ? p.created : now);
    for (size_t i = from; i < p.out.size(); ++i) {
        const JournalRecord &r = p.out[i];
        data += entryBytes(KindRecord, r.id, r.flags, r.time, r.path);
    }
    data += entryBytes(KindCounter, m_current.load(), 0, now, QByteArray());
    QSaveFile out(m_path);
    if (!StoreFile::open(out, true) || out.write(data) != data.size() || !out.commit()) {
        if (!m_warnedWrite) {
            m_warnedWrite = true;
            qCWarning(lcFsEvents, "cannot rewrite the event journal %s", qUtf8Printable(m_path));
        }
        return;
    }
    m_fd.reset(StoreFile::openForAppend(m_path));
    m_records = int(p.out.size() - from);
}

} // namespace KLFSEvents
