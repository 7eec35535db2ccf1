#pragma once
// Tags as text: splitting typed or pasted text into tags, writing a tag list back as text,
// cleaning a single tag, and merging tag lists without case-insensitive duplicates.
//
// Two ways of splitting exist: at commas, or at blanks with double quotes grouping a tag that
// holds blanks. All matching is literal (exact UTF-16 code units) unless stated otherwise.
// "Whitespace" below means QChar::isSpace (blanks, tabs, CR, LF and the other Unicode spaces).
//
// The token-field operations (grepStringForTags and friends) are plain functions here so that
// the command line and the editor share them without widgets.
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace PimsAdditions {

// The not-found marker of indexOfCaseInsensitiveString.
constexpr qint64 kNotFound = std::numeric_limits<qint64>::max();

// Blanks (U+0020 only) trimmed at both ends, then every CR and LF removed, then "%20" -> " ".
QString cleanedTag(const QString &tag);
// The tag, in double quotes when it holds a blank (quotes inside are not escaped).
QString formattedTag(const QString &tag);
// The formatted tags joined by one blank, trimmed of whitespace.
QString tagFormattedStringOld(const QStringList &tags);
QStringList componentsSeparatedByBlanksAndQuotes(const QString &text);
QStringList arrayWithTagFormattedStringOld(const QString &text);

// First list, then second; non-strings and keys holding "%20" skipped; key = lower-cased NFD.
QStringList combineArraysSkipDuplicatesCaseInsensitive(const QVariantList &one, const QVariantList &two);
QStringList combineArraysSkipDuplicatesCaseInsensitive(const QStringList &one, const QStringList &two);
qint64 indexOfCaseInsensitiveString(const QStringList &list, const QString &string);
bool containsLiteralString(const QString &text, const QString &string);
QString stringByReplacingLITERALOccurrencesOfString(const QString &text, const QString &search,
                                                    const QString &replacement);

} // namespace PimsAdditions

namespace XPTagText {

// The marker standing for pasted text that was too long.
inline const QString kRejectedPasteTooBig = QStringLiteral("rejectedPasteTooBig");

// Splits user text into tags; useCommas is the KPUseCommas setting.
QStringList grepStringForTags(const QString &text, bool useCommas);
// The same with KPUseCommas read from the settings (true when unset).
QStringList grepStringForTags(const QString &text);
QStringList tagDisplayNamesForEditingStrings(const QStringList &strings, bool removeDuplicates, bool changeCaseOK);
QString displayStringToUserString(const QString &tag);
// A null QString stays null.
QString userStringToDisplayString(const QString &text);

} // namespace XPTagText
