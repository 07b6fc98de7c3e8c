#pragma once

#include "support/ChildProcess.h"

#include <QCoreApplication>

namespace netsonde::test {

// Another process in the middle of a long transaction on a history file:
// holds its write lock until released.
class FileLocker {
public:
    explicit FileLocker(const QString& path)
        : process(QCoreApplication::applicationDirPath() + "/history_locker", {path}) {
        locked = process.WaitForLine("locked");
    }
    void Release() { process.Stop(); }
    bool locked = false;

private:
    ChildProcess process;
};

} // namespace netsonde::test
