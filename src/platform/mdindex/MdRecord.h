#pragma once
// One file's entry in the index.
#include <QString>
#include <QStringList>

namespace MdIndex {

struct FileRecord {
    qint64 id = 0;
    QString path;
    qint64 parent = 0; // id of the folder's own entry; 0 for a root
    QString name;
    QString displayName;
    QString mimeType;            // empty until the content pass has looked at the file
    QString contentType;         // type identifier ("public.jpeg")
    QStringList contentTypeTree; // the identifier and the ones it conforms to
    qint64 size = 0;
    qint64 modifiedMs = 0; // content modification
    qint64 createdMs = 0;  // birth time; 0 when the file system does not know it
    qint64 lastUsedMs = 0; // 0: never seen opened
    QStringList tags;
    double rating = 0;
    bool isFolder = false;
    bool isSystemFile = false;
    // The filing mark (kMDItemLTManaged) as last read: -1 absent, 0 false, 1 true.
    int managed = -1;
    // True until the content pass has read the file's type and attributes (again, after a change).
    bool contentPending = false;
};

// Reads the type (by name and content), the type tree, the tags ("user.xdg.tags", comma-joined),
// the rating ("user.baloo.rating", twice the stars) and the filing mark into `r`. Blocks on the
// disk.
void readTypeAndAttributes(FileRecord *r);
// The tags, the rating and the filing mark alone (after an attribute change).
void readAttributes(FileRecord *r);
// Text-like files: true with the first `capBytes` of their text (valid UTF-8 only). PDFs: the
// text of their pages (at most `capBytes` characters), read by a decoder worker under its time
// limit.
bool readText(const FileRecord &r, qint64 capBytes, QString *text);

} // namespace MdIndex
