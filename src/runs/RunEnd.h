#pragma once

#include "history/RunRecord.h"

#include <QString>

class TAxIcmpTask;

namespace runs {

// A run of the main window that has ended, as its controller saw it start:
// which component ran it, for which entry of the list, by which command and
// whether the automatic mode started it; and how it ended. A run that ended
// by its error event is failed, with the error's code and text.
struct RunEnd {
    TAxIcmpTask* task = nullptr;
    QString entry;
    history::Command kind = history::Command::CheckOne;
    bool automatic = false;
    bool failed = false;
    int error = 0;
    QString message;
};

} // namespace runs
