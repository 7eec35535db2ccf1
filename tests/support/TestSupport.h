#pragma once
// Helpers shared by the tests.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace KelsoTest {
// Points HOME and the XDG variables of this test process at a fresh folder, so that no test
// reads or writes the real user's files. The folder is ~/kelso-test-homes/home-XXXXXX of the
// real user (outside system roots and hidden folders), removed at exit. Called by the test mains
// before Qt starts.
void isolateHome();
// The fresh home of this process.
QString home();
// Writes a file (creating folders); fails the test on error.
void writeFile(const QString &path, const QByteArray &content = QByteArray("x"));
// Writes `n` small files home/<folder>/file0.txt … and answers their paths in that order.
QStringList makeFiles(const QString &folder, int n);
// Spins the event loop until `done` answers true or `timeoutMs` passes; answers `done()`.
bool waitFor(const std::function<bool()> &done, int timeoutMs = 5000);
} // namespace KelsoTest
