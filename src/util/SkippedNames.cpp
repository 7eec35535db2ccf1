#include "util/SkippedNames.h"

#include <QHash>
#include <mutex>

namespace SkippedNames {

namespace {

// A bound on what is remembered; past it the places start over (and are told once more).
constexpr qsizetype kMaxPlaces = 10000;

struct Reported {
    int count = 0;
    quint64 fingerprint = 0;
};

std::mutex g_mutex;
QHash<QByteArray, Reported> g_reported;

} // namespace

void add(quint64 *fingerprint, QByteArrayView name)
{
    // A sum of mixed hashes: the same names in any order give the same fingerprint.
    quint64 h = quint64(qHash(name, 0x4b656c736fU));
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    *fingerprint += h;
}

bool firstReport(const QByteArray &place, int count, quint64 fingerprint)
{
    std::lock_guard lock(g_mutex);
    auto it = g_reported.find(place);
    if (it != g_reported.end() && it->count == count && it->fingerprint == fingerprint)
        return false;
    if (it == g_reported.end() && g_reported.size() >= kMaxPlaces)
        g_reported.clear();
    g_reported.insert(place, {count, fingerprint});
    return true;
}

} // namespace SkippedNames
