// Content indexing: the crawler's content pass (type, attributes, reading, FTS5) against bare
// inserts of the same text through the index's own text writer.
#include "platform/mdindex/MdCrawler.h"

#include <QDir>
#include <QFile>
#include <chrono>
#include <cstdio>

using namespace MdIndex;

void benchContent(const QString &work)
{
    using Clock = std::chrono::steady_clock;
    auto ms = [](Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); };
    const QString dir = work + QStringLiteral("/texts");
    QDir().mkpath(dir);
    const int files = 2000;
    const char *words[] = {"harvest", "ledger", "orbit",  "quartz", "meadow",
                           "signal",  "timber", "velvet", "anchor", "bramble"};
    QList<QString> texts;
    qint64 bytes = 0;
    for (int i = 0; i < files; ++i) {
        QString text;
        quint32 h = quint32(i) * 2654435761u;
        while (text.size() < 8000) {
            h = h * 1103515245u + 12345u;
            text += QLatin1String(words[(h >> 16) % 10]) + QString::number(h % 97) + QLatin1Char(' ');
        }
        QFile f(QStringLiteral("%1/note%2.txt").arg(dir).arg(i));
        f.open(QIODevice::WriteOnly);
        f.write(text.toUtf8());
        bytes += text.size();
        texts.append(text);
    }
    const double mb = bytes / 1e6;

    const QString rawDb = work + QStringLiteral("/raw.sqlite3");
    Store raw;
    raw.open(rawDb, Store::Mode::ReadWrite, nullptr);
    auto t = Clock::now();
    raw.begin();
    for (int i = 0; i < files; ++i) {
        FileRecord r;
        r.path = r.name = r.displayName = QString::number(i);
        raw.setText(raw.upsertStat(r, 1), texts[i]);
    }
    raw.commit();
    const double rawMs = ms(t);

    CrawlRules rules;
    rules.roots = {dir};
    Crawler c(work + QStringLiteral("/content.sqlite3"), rules);
    c.openStore(nullptr);
    c.crawlNames();
    t = Clock::now();
    while (c.indexContentBatch(32) > 0) {
    }
    const double crawlMs = ms(t);
    std::printf("\n== content indexing, %d text files, %.1f MB\n", files, mb);
    std::printf("crawler content pass %.0f ms (%.1f MB/s), bare text inserts %.0f ms (%.1f MB/s), ratio %.2f\n",
                crawlMs, mb / crawlMs * 1000, rawMs, mb / rawMs * 1000, crawlMs / rawMs);
}
