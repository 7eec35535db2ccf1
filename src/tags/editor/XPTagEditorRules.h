#pragma once
// The rules of the tag editor and the tag search that need no window: how many files a write
// may touch without asking, when a progress window shows, the failure report's texts, the
// rating display, the window titles and the tag-search query text. Kept apart so that each
// threshold and text is tested on its own.
#include <QHash>
#include <QString>
#include <QStringList>

namespace XPTagEditorRules {

// Up to this many files are written at once; more ask the user first.
constexpr int kConfirmAbove = 20;
// More than this many files are refused outright.
constexpr int kRefuseAbove = 150000;
// From this many files on a progress window with a stop button shows.
constexpr int kProgressFrom = 11;
// The failure report names this many files; the rest are counted in one line.
constexpr int kReportedNames = 10;

enum class Gate { WriteAtOnce, Confirm, Refuse };
Gate gateForFileCount(qsizetype count);
bool showsProgress(qsizetype count);

struct FailureReport {
    QString title;
    QString message;
    QStringList nameLines; // the lines of the name list, leftovers line included
};
// The report for the files that failed out of `all`. `reasons` maps a failed path to why it
// failed (the system's words); each name line carries its reason after the name.
FailureReport failureReport(const QStringList &failed, const QStringList &all,
                            const QHash<QString, QString> &reasons = {});

// "not rated" for 0, else "rated %1/5" with the whole number of stars.
QString ratingText(double rating);
// The rating display of several files: the common rating, or "various" when they differ.
struct RatingDisplay {
    double value = 0;
    QString text;
};
RatingDisplay ratingDisplay(const QList<double> &ratings);

// The editor's window title: empty for no file, the name for one, the count for more.
QString windowTitleForFileCount(qsizetype count, const QString &firstFileName);
// The line above the tag field and the name line under the picture.
QString tagFieldTitle(qsizetype count);
QString fileNameLine(qsizetype count, const QString &firstFileName);

// The search's tag word from the file manager's word for tags ("Tags:" when it has none):
// a plural "s:" (or "s :") becomes ":", lower-cased, with one blank on each side.
QString queryTagWord(const QString &fileManagerWord = QString());
// The query for files with every tag (and at least `minimumRating` stars when above 0).
QString tagQueryText(const QStringList &tags, double minimumRating, const QString &fileManagerWord = QString());

} // namespace XPTagEditorRules
