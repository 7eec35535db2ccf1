#pragma once
// Command-line tools on tags, ratings and filed documents; they work directly on the files.
//   kelso tags [--json] FILE…            the common tags (one file: its tags)
//   kelso tags set|add|remove TEXT FILE…  change them as the tag editor would
//   kelso rate N FILE…                    set the rating (0 removes it)
//   kelso file FILE…                      file into the filed-documents folder
//   kelso managed on|off FILE…            set the managed mark
// Files that fail are listed on stderr with the reason, the others are done; the exit status is
// 1 when any failed, 2 for a usage error.
#include <QStringList>

int runTagsCommand(const QStringList &args);
int runRateCommand(const QStringList &args);
int runFileCommand(const QStringList &args);
int runManagedCommand(const QStringList &args);
