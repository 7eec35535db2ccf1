#pragma once
// `kelso cooler [--json]`, `kelso cooler add FILE…`, `kelso cooler remove FILE…`.
// Works through the running Kelso when there is one (so the window and its store stay the one
// truth), else directly on the store file.
#include <QStringList>

int runCoolerCommand(const QStringList &args);
