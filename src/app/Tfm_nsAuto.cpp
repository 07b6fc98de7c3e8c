// The automatic mode, which repeats one command every few seconds, and its
// menu.
#include "app/Tfm_ns.h"

#include <QAction>

void Tfm_ns::SetAutoRun(bool On) {
    FRuns->SetAutoRun(On);
}

void Tfm_ns::CheckOne1Click(QObject*) {
    FRuns->StartAuto(rkCheckOne);
}

void Tfm_ns::CheckAll1Click(QObject*) {
    FRuns->StartAuto(rkCheckAll);
}

void Tfm_ns::Ping1Click(QObject*) {
    FRuns->StartAuto(rkPing);
}

void Tfm_ns::Trace1Click(QObject*) {
    FRuns->StartAuto(rkTrace);
}

void Tfm_ns::Stop1Click(QObject*) {
    FRuns->SetAutoRun(false);
}

void Tfm_ns::popupPopup(QObject*) {
    QAction* const marks[] = {CheckOne1, CheckAll1, Ping1, Trace1, Stop1};
    marks[FRuns->AutoKind()]->setChecked(true);
}

void Tfm_ns::TickTimer(QObject*) {
    FRuns->TickTimer();
}
