#pragma once

#include "desktop/FileDialogs.h"

#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace netsonde::test {

// Answers the file dialogs from a queue of picks (a path, or nothing for
// Cancel; Cancel when the queue is empty) and records every request.
// Installed for its lifetime.
class FakeFileDialogs {
public:
    FakeFileDialogs();
    ~FakeFileDialogs();

    void PickNext(std::optional<QString> path);

    std::vector<platform::FileDialogRequest> requests;

private:
    std::deque<std::optional<QString>> picks;
    std::unique_ptr<platform::FileDialogs> previous;
    friend class ScriptedFileDialogs;
};

} // namespace netsonde::test
