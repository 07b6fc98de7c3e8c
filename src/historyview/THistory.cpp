#include "historyview/THistory.h"

#include "desktop/MessageBoxes.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "history/THistoryStore.h"
#include "platform/IcmpTypes.h"
#include "tray/TTrayIcon.h"
#include "tray/TrayMark.h"

#include <QDateTime>
#include <algorithm>

namespace history {

namespace {

bool IsUnreachable(int status) {
    return status >= static_cast<int>(IcmpStatus::DestNetUnreachable) &&
           status <= static_cast<int>(IcmpStatus::DestPortUnreachable);
}

// The status of the echo just completed; a cancelled echo keeps what its
// reply said.
int EchoStatus(const TAxIcmpTask* task) {
    if (task->Status() == ErrCancelled)
        return static_cast<int>(task->Reply().Status);
    return task->Status();
}

// The outcome of a run that was not answered, from its last echo.
void Unanswered(RunRecord& r, bool cancelled) {
    const int last = r.Echoes.isEmpty() ? 0 : r.Echoes.back().Status;
    if (r.Echoes.isEmpty() && cancelled) {
        r.Result = Outcome::Cancelled;
        r.Code = ErrCancelled;
    } else if (last == static_cast<int>(IcmpStatus::ReqTimedOut) ||
               last == static_cast<int>(IcmpStatus::TtlExpiredTransit)) {
        r.Result = Outcome::TimedOut;
        r.Code = last;
    } else if (IsUnreachable(last)) {
        r.Result = Outcome::Unreachable;
        r.Code = last;
    } else if (cancelled && last == 0) {
        r.Result = Outcome::Cancelled;
        r.Code = ErrCancelled;
    } else {
        r.Result = Outcome::Error;
        r.Code = last;
    }
}

} // namespace

THistory::THistory(const QString& path, QObject* owner)
    : QObject(owner), Clock([] { return QDateTime::currentMSecsSinceEpoch(); }),
      FStore(new THistoryStore(path, this)), FNotices(new TNotices(this)) {
    connect(FStore, &THistoryStore::Failed, this, &THistory::StoreFailed);
}

THistory::~THistory() = default;

const QString& THistory::Path() const {
    return FStore->Path();
}

void THistory::Attach(TAxPing* ping, TAxTrace* trace) {
    // The echoes are collected before the window's handlers see them.
    connect(ping, &TAxIcmp::Data, this, [this, ping] { Collect(ping, false); });
    connect(trace, &TAxIcmp::Data, this, [this, trace] { Collect(trace, true); });
}

void THistory::AttachTray(TTrayIcon* tray) {
    FTray = tray;
    FTrayIcon = tray->Icon();
}

void THistory::Collect(TAxIcmpTask* task, bool trace) {
    QVector<Echo>& echoes = FEchoes[task];
    Echo e;
    e.Status = EchoStatus(task);
    if (trace) {
        auto* t = static_cast<TAxTrace*>(task);
        e.Ttl = t->Hop();
        // The first hop begins a new run.
        if (e.Ttl <= 1)
            echoes.clear();
        const bool answered =
            e.Status == 0 || e.Status == static_cast<int>(IcmpStatus::TtlExpiredTransit);
        e.Rtt = answered ? static_cast<int>(task->Reply().RoundTripTime) : -1;
        if (task->Reply().Address != NoAddress && task->Reply().Address != 0)
            e.Node = task->ReplyAddress();
    } else {
        if (static_cast<TAxPing*>(task)->Sent() <= 1)
            echoes.clear();
        e.Rtt = e.Status == 0 ? static_cast<int>(task->Reply().RoundTripTime) : -1;
    }
    echoes.append(e);
}

RunRecord THistory::Build(TAxIcmpTask* task, const QString& entry, Command kind, bool automatic,
                          bool failed, int error, const QString& message) {
    RunRecord r;
    r.TimeMs = Clock();
    r.Entry = entry;
    r.Kind = kind;
    r.Automatic = automatic;
    r.Echoes = FEchoes.take(task);
    // A run the engine refused at once never got to its target.
    if (!(failed && error == ErrNoHandle))
        r.Address = task->HostAddress();
    if (kind == Command::Trace) {
        r.Sent = static_cast<int>(r.Echoes.size());
        for (const Echo& e : r.Echoes)
            if (e.Rtt >= 0)
                ++r.Received;
        if (!r.Echoes.isEmpty() && r.Echoes.back().Status == 0) {
            r.MinRtt = r.AvgRtt = r.MaxRtt = r.Echoes.back().Rtt;
        }
    } else {
        const auto* ping = static_cast<TAxPing*>(task);
        r.Sent = static_cast<int>(r.Echoes.size());
        for (const Echo& e : r.Echoes)
            if (e.Status == 0)
                ++r.Received;
        if (r.Received > 0 && !failed) {
            r.MinRtt = ping->MinTime();
            r.AvgRtt = ping->AvgTime();
            r.MaxRtt = ping->MaxTime();
        } else if (r.Received > 0) {
            int sum = 0;
            for (const Echo& e : r.Echoes)
                if (e.Status == 0) {
                    r.MinRtt = r.MinRtt < 0 ? e.Rtt : std::min(r.MinRtt, e.Rtt);
                    r.MaxRtt = std::max(r.MaxRtt, e.Rtt);
                    sum += e.Rtt;
                }
            r.AvgRtt = (sum + r.Received / 2) / r.Received;
        }
    }
    if (failed) {
        r.Result = error == ErrCancelled ? Outcome::Cancelled : Outcome::Error;
        r.Code = error;
        r.Message = message;
    } else if (kind == Command::Trace ? (!r.Echoes.isEmpty() && r.Echoes.back().Status == 0)
                                      : r.Received > 0) {
        r.Result = Outcome::Answered;
        r.Code = 0;
    } else {
        Unanswered(r, task->Cancelled());
    }
    return r;
}

void THistory::RunEnded(TAxIcmpTask* task, const QString& entry, Command kind, bool automatic,
                        bool failed, int error, const QString& message) {
    FLast = Build(task, entry, kind, automatic, failed, error, message);
    FStore->Record(FLast);
    if (FLast.Result == Outcome::Cancelled)
        return;
    const bool answering = Answering(FLast.Result);
    const auto known = FAnswering.constFind(entry);
    if (automatic && known != FAnswering.cend() && *known != answering)
        FRoundChanges.append({entry, answering, FLast.TimeMs});
    FAnswering.insert(entry, answering);
    if (!automatic)
        return;
    FRoundOpen = true;
    FRoundTrouble = FRoundTrouble || !answering;
    // Every automatic command but Check All is a round of one run.
    if (kind != Command::CheckAll)
        CloseRound();
}

void THistory::RoundEnded() {
    if (FRoundOpen)
        CloseRound();
}

void THistory::CloseRound() {
    SetTrouble(FRoundTrouble);
    if (SendNotices)
        FNotices->Notify(FRoundChanges);
    FRoundChanges.clear();
    FRoundTrouble = false;
    FRoundOpen = false;
}

void THistory::SetTrouble(bool On) {
    if (On == FTrouble)
        return;
    FTrouble = On;
    if (FTray && FMarkTray)
        FTray->SetIcon(On ? TroubleIcon(FTrayIcon) : FTrayIcon);
}

void THistory::SetMarkTray(bool On) {
    if (On == FMarkTray)
        return;
    FMarkTray = On;
    if (FTray && FTrouble)
        FTray->SetIcon(On ? TroubleIcon(FTrayIcon) : FTrayIcon);
}

void THistory::StoreFailed(const QString& message) {
    platform::Messages().Error(message);
}

QIcon TroubleIcon(const QIcon& icon) {
    return tray::MarkedIcon(icon, tray::MarkRed);
}

} // namespace history
