#pragma once
// A stand-in for the metadata index behind the searcher: it records the queries the searcher
// makes (their texts, scopes and counts) and lets a test hand them results and updates.
#include "search/KLSpotlightSearcher.h"

#include <QPointer>

class FakeSearchQuery : public KLSearchLiveQuery
{
    Q_OBJECT
public:
    QString text;
    QStringList scopes;
    int maxCount = -1;
    bool executed = false;
    bool stopped = false;
    bool failExecute = false;
    int updatesDisabled = 0;
    // Set when results() was read while updates were running.
    mutable bool readWhileUpdating = false;
    QList<QVariantMap> list;

    void setSearchScopes(const QStringList &folders) override { scopes = folders; }
    void setMaxCount(int count) override { maxCount = count; }
    bool execute() override
    {
        executed = !failExecute;
        return executed;
    }
    void stop() override { stopped = true; }
    void disableUpdates() override { ++updatesDisabled; }
    void enableUpdates() override { --updatesDisabled; }
    QList<QVariantMap> results() const override
    {
        if (updatesDisabled <= 0)
            readWhileUpdating = true;
        return list;
    }

    // Replaces the results and reports them as the index would.
    void report(const QStringList &paths)
    {
        list.clear();
        for (const QString &p : paths)
            list.append({{QStringLiteral("kMDItemPath"), p},
                         {QStringLiteral("kMDItemDisplayName"), p.section(QLatin1Char('/'), -1)}});
        Q_EMIT updated();
    }
};

class FakeSearchIndex
{
public:
    // Every query made, in order (null once the searcher dropped it).
    QList<QPointer<FakeSearchQuery>> made;
    QStringList texts;
    // Texts containing this fail to start.
    QString failing;

    KLSpotlightSearcher::QueryFactory factory()
    {
        return [this](const QString &text) -> std::unique_ptr<KLSearchLiveQuery> {
            auto q = std::make_unique<FakeSearchQuery>();
            q->text = text;
            q->failExecute = !failing.isEmpty() && text.contains(failing);
            made.append(q.get());
            texts.append(text);
            return q;
        };
    }
    // The live queries now running: the name query first, then the content query.
    QList<FakeSearchQuery *> running() const
    {
        QList<FakeSearchQuery *> out;
        for (const auto &q : made)
            if (q && q->executed && !q->stopped)
                out.append(q.data());
        return out;
    }
};
