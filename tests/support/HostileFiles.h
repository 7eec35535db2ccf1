#pragma once
// Files that a store or the settings may find in their place: property lists built to hurt a
// reader (nested very deep, sharing objects so that they expand, referring to themselves) and
// special files (FIFO, socket, device). Header-only, for the tests of every reader.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace HostileFiles {

// A binary plist of the given objects (each already encoded, references 4 bytes wide), the
// first one at the top.
inline QByteArray binaryPlist(const std::vector<QByteArray> &objects)
{
    QByteArray out("bplist00");
    std::vector<quint32> offsets;
    for (const QByteArray &o : objects) {
        offsets.push_back(quint32(out.size()));
        out += o;
    }
    const quint64 table = quint64(out.size());
    const auto be = [&out](quint64 v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out += char((v >> (8 * i)) & 0xff);
    };
    for (quint32 o : offsets)
        be(o, 4);
    out += QByteArray(6, '\0');
    out += char(4); // offset size
    out += char(4); // reference size
    be(objects.size(), 8);
    be(0, 8); // top object
    be(table, 8);
    return out;
}

// An array object referring to the given objects.
inline QByteArray arrayObject(const std::vector<quint32> &refs)
{
    QByteArray o;
    if (refs.size() < 15) {
        o += char(0xA0 | int(refs.size()));
    } else {
        o += char(0xAF);
        o += char(0x12); // a 4-byte integer count follows
        for (int i = 3; i >= 0; --i)
            o += char((refs.size() >> (8 * i)) & 0xff);
    }
    for (quint32 r : refs)
        for (int i = 3; i >= 0; --i)
            o += char((r >> (8 * i)) & 0xff);
    return o;
}

inline QByteArray integerObject(int value)
{
    return QByteArray(1, char(0x10)) + char(value & 0xff);
}

// `levels` values, each an array holding the next, the last an integer: 100,000 levels make
// about 900 KB.
inline QByteArray deepBinary(int levels)
{
    std::vector<QByteArray> objects;
    objects.reserve(size_t(levels));
    for (int i = 0; i < levels - 1; ++i)
        objects.push_back(arrayObject({quint32(i + 1)}));
    objects.push_back(integerObject(1));
    return binaryPlist(objects);
}

// `levels` values the same way, as XML.
inline QByteArray deepXml(int levels)
{
    QByteArray out("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n");
    out += QByteArray("<array>").repeated(levels - 1);
    out += "<integer>1</integer>";
    out += QByteArray("</array>").repeated(levels - 1);
    out += "\n</plist>\n";
    return out;
}

// A few hundred bytes that expand to 2^(levels+1) - 1 values: each array holds the next one
// twice, and a reader that copies an object at every reference builds them all.
inline QByteArray sharedBinary(int levels)
{
    std::vector<QByteArray> objects;
    for (int i = 0; i < levels; ++i)
        objects.push_back(arrayObject({quint32(i + 1), quint32(i + 1)}));
    objects.push_back(integerObject(1));
    return binaryPlist(objects);
}

// Two arrays that hold each other.
inline QByteArray loopingBinary()
{
    return binaryPlist({arrayObject({1}), arrayObject({0})});
}

inline void makeFifo(const QString &path)
{
    QFile::remove(path);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0) << std::strerror(errno);
}

// A listening Unix socket bound at `path`; answers its descriptor (close it when done).
inline int makeSocket(const QString &path)
{
    QFile::remove(path);
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    EXPECT_LT(size_t(native.size()), sizeof address.sun_path) << "socket path too long";
    std::strncpy(address.sun_path, native.constData(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0) << std::strerror(errno);
    ::listen(fd, 1);
    return fd;
}

// A symbolic link to an endless device (reading it never ends).
inline void makeDeviceLink(const QString &path)
{
    QFile::remove(path);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(path).constData()), 0) << std::strerror(errno);
}

} // namespace HostileFiles
