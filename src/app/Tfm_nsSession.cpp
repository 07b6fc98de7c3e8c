// Session files: the whole address list with the results of every entry.
#include "app/Tfm_ns.h"

#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"

void Tfm_ns::bn_saveClick(QObject*) {
    if (!Ping->Busy() && !Trace->Busy())
        SaveSession();
}

void Tfm_ns::bn_loadClick(QObject*) {
    if (!Ping->Busy() && !Trace->Busy())
        LoadSession();
}

// Reading and writing session files comes with the session file format.
void Tfm_ns::SaveSession() {}

void Tfm_ns::LoadSession() {}
