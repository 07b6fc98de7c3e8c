#pragma once

#include "app/Tfm_ns.h"
#include "controls/TCBitBtn.h"
#include "runs/RunController.h"

#include <QEventLoop>
#include <QObject>

namespace netsonde::test {

// Clicks Check All and runs the event loop until the window's runs say the
// Check All has ended; returns at once when it ended before the click
// returned, or never began, and when the window goes meanwhile.
inline void CheckAllAndWait(Tfm_ns& w) {
    QEventLoop loop;
    QObject::connect(w.Runs(), &runs::RunController::CheckAllEnds, &loop, &QEventLoop::quit);
    // A window deleted during the run takes its runs along.
    QObject::connect(w.Runs(), &QObject::destroyed, &loop, &QEventLoop::quit);
    w.bn_allClick(w.bn_all);
    if (w.Runs()->InCheckAll())
        loop.exec();
}

} // namespace netsonde::test
