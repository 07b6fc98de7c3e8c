#include "runs/RunRecorder.h"

#include "echo/EchoCodes.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "resolve/TDNS.h"
#include "runs/RunController.h"

#include <QDateTime>
#include <algorithm>

namespace runs {

using history::Command;
using history::Echo;
using history::Outcome;
using history::RunRecord;

namespace {

// The status of the echo just completed; a cancelled echo keeps what its
// reply said.
int EchoStatusOf(const TAxIcmpTask* task) {
    if (task->Status() == ErrCancelled)
        return static_cast<int>(task->Reply().Status);
    return task->Status();
}

// The outcome of a run that was not answered, from its last echo.
void Unanswered(RunRecord& r, bool cancelled) {
    const int last = r.Echoes.isEmpty() ? EchoStatus::Answered : r.Echoes.back().Status;
    if (r.Echoes.isEmpty() && cancelled) {
        r.Result = Outcome::Cancelled;
        r.Code = ErrCancelled;
    } else if (last == EchoStatus::TimedOut || last == EchoStatus::TtlExpired) {
        r.Result = Outcome::TimedOut;
        r.Code = last;
    } else if (EchoStatus::IsUnreachable(last)) {
        r.Result = Outcome::Unreachable;
        r.Code = last;
    } else if (cancelled && last == EchoStatus::Answered) {
        r.Result = Outcome::Cancelled;
        r.Code = ErrCancelled;
    } else {
        r.Result = Outcome::Error;
        r.Code = last;
    }
}

// The round-trip figures of a ping that did not get to its statistics.
void SumUp(RunRecord& r) {
    int sum = 0;
    for (const Echo& e : r.Echoes)
        if (e.Status == EchoStatus::Answered) {
            r.MinRtt = r.MinRtt < 0 ? e.Rtt : std::min(r.MinRtt, e.Rtt);
            r.MaxRtt = std::max(r.MaxRtt, e.Rtt);
            sum += e.Rtt;
        }
    r.AvgRtt = (sum + r.Received / 2) / r.Received;
}

} // namespace

RunRecorder::RunRecorder(RunController& controller, QObject* parent)
    : QObject(parent), FClock([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    TAxPing* ping = controller.Ping();
    TAxTrace* trace = controller.Trace();
    connect(ping, &TAxIcmp::Data, this, [this, ping] { Collect(ping, false); });
    connect(trace, &TAxIcmp::Data, this, [this, trace] { Collect(trace, true); });
    connect(&controller, &RunController::RunEnded, this,
            [this](const RunEnd& end) { emit Recorded(Build(end)); });
}

void RunRecorder::Collect(TAxIcmpTask* task, bool trace) {
    QVector<Echo>& echoes = FEchoes[task];
    Echo e;
    e.Status = EchoStatusOf(task);
    if (trace) {
        auto* t = static_cast<TAxTrace*>(task);
        e.Ttl = t->Hop();
        // The first hop begins a new run.
        if (e.Ttl <= 1)
            echoes.clear();
        const bool answered =
            e.Status == EchoStatus::Answered || e.Status == EchoStatus::TtlExpired;
        e.Rtt = answered ? static_cast<int>(task->Reply().RoundTripTime) : -1;
        if (task->Reply().Address != NoAddress && task->Reply().Address != 0)
            e.Node = task->ReplyAddress();
    } else {
        if (static_cast<TAxPing*>(task)->Sent() <= 1)
            echoes.clear();
        e.Rtt =
            e.Status == EchoStatus::Answered ? static_cast<int>(task->Reply().RoundTripTime) : -1;
    }
    echoes.append(e);
}

RunRecord RunRecorder::Build(const RunEnd& end) {
    TAxIcmpTask* task = end.task;
    RunRecord r;
    r.TimeMs = FClock();
    r.Entry = end.entry;
    r.Kind = end.kind;
    r.Automatic = end.automatic;
    r.Echoes = FEchoes.take(task);
    if (!task)
        return r;
    // A run the engine refused at once never got to its target.
    if (!(end.failed && end.error == ErrNoHandle))
        r.Address = task->HostAddress();
    r.Sent = static_cast<int>(r.Echoes.size());
    if (end.kind == Command::Trace) {
        for (const Echo& e : r.Echoes)
            if (e.Rtt >= 0)
                ++r.Received;
        if (!r.Echoes.isEmpty() && r.Echoes.back().Status == EchoStatus::Answered)
            r.MinRtt = r.AvgRtt = r.MaxRtt = r.Echoes.back().Rtt;
    } else {
        for (const Echo& e : r.Echoes)
            if (e.Status == EchoStatus::Answered)
                ++r.Received;
        if (r.Received > 0 && !end.failed) {
            const auto* ping = static_cast<TAxPing*>(task);
            r.MinRtt = ping->MinTime();
            r.AvgRtt = ping->AvgTime();
            r.MaxRtt = ping->MaxTime();
        } else if (r.Received > 0) {
            SumUp(r);
        }
    }
    if (end.failed) {
        // A run cancelled while its name was looked up ends by the
        // resolver's error; it says no more about the host than any other.
        const bool cancelled = end.error == ErrCancelled || end.error == DnsErrCancelled;
        r.Result = cancelled ? Outcome::Cancelled : Outcome::Error;
        r.Code = end.error;
        r.Message = end.message;
    } else if (end.kind == Command::Trace
                   ? (!r.Echoes.isEmpty() && r.Echoes.back().Status == EchoStatus::Answered)
                   : r.Received > 0) {
        r.Result = Outcome::Answered;
        r.Code = EchoStatus::Answered;
    } else {
        Unanswered(r, task->Cancelled());
    }
    return r;
}

} // namespace runs
