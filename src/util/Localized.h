#pragma once
// User-visible texts by key. The English table is resources/strings/Localizable.strings
// (the Apple ".strings" syntax: "key" = "value";). A key missing from the table is its own
// text. "%1".."%4" are replaced at every occurrence by the given values; "%AppName" becomes
// "Kelso".
#include <QString>
#include <QStringList>

QString KLLocalized(const QString &key);
QString KLLocalized(const QString &key, const QStringList &args);

namespace KLLocalization {
// Replaces placeholders in an already looked-up text (exposed for tests and for texts that
// come from elsewhere).
QString substitute(QString text, const QStringList &args);
// Parses a ".strings" table; malformed lines are skipped.
QHash<QString, QString> parseStringsTable(const QByteArray &data);
} // namespace KLLocalization
