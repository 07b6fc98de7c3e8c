#pragma once

#include <QString>

namespace netsonde::test {

// A tiny file system of its own (tmpfs) mounted on a folder for one test, so
// that a test can fill it up or make it read-only. Needs root; Mounted() is
// false otherwise. Unmounted when destroyed.
class ScratchMount {
public:
    ScratchMount(const QString& folder, int sizeKiB);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    bool Mounted() const { return mounted; }
    // Makes the file system read-only; false when that failed.
    bool MakeReadOnly();
    // Takes all the room that is left with a file named "filler"; false when
    // it could not be made.
    bool FillUp();

private:
    QString folder;
    int sizeKiB;
    bool mounted = false;
};

} // namespace netsonde::test
