#include "runs/RunController.h"

#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "echo/TLookAhead.h"

#include <QMetaObject>
#include <QTimer>

namespace runs {

RunController::RunController(EntryList& entries, QObject* host, QObject* parent)
    : QObject(parent), FEntries(entries) {
    if (!host)
        host = this;
    FPing = new TAxPing(host);
    FPing->setObjectName(QStringLiteral("Ping"));
    FPing->OnError = [this](QObject* s, int code, const QString& msg) { PingError(s, code, msg); };
    FPing->OnData = [this](QObject*, int) { PingData(); };
    FPing->OnFinished = [this](QObject*) { PingFinished(); };
    FTrace = new TAxTrace(host);
    FTrace->setObjectName(QStringLiteral("Trace"));
    FTrace->SetSendTestPacket(true);
    FTrace->OnError = [this](QObject* s, int code, const QString& msg) { PingError(s, code, msg); };
    FTrace->OnData = [this](QObject*, int) { TraceData(); };
    FTrace->OnFinished = [this](QObject*) { TraceFinished(); };
    FTrace->OnTest = [this](QObject*) { TraceTest(); };

    FTick = new QTimer(this);
    FTick->setObjectName(QStringLiteral("Tick"));
    FTick->setInterval(0);
    connect(FTick, &QTimer::timeout, this, [this] { TickTimer(); });
}

RunController::~RunController() {
    // A run still in flight is cut off from the components as they go; no
    // event of it reaches the controller any more.
    delete FAhead.data();
    for (TAxIcmp* task : {static_cast<TAxIcmp*>(FPing), static_cast<TAxIcmp*>(FTrace)}) {
        task->OnData = nullptr;
        task->OnError = nullptr;
    }
    FPing->OnFinished = nullptr;
    FTrace->OnFinished = nullptr;
    FTrace->OnTest = nullptr;
    delete FPing;
    delete FTrace;
}

void RunController::SetNumber(std::uint16_t number) {
    FNumber = number;
    FPing->SetNumber(number);
}

bool RunController::Running() const {
    return FPing->Busy() || FTrace->Busy();
}

void RunController::StartRun(TAxIcmpTask* task, history::Command kind, TRunKind autoKind) {
    FRunFailed = false;
    FRun = RunEnd{};
    FRun.task = task;
    FRun.entry = FEntries.Item(FEntries.Selected());
    FRun.kind = kind;
    FRun.automatic = FAutoKind == autoKind;
    task->Start(FRun.entry);
}

void RunController::CheckOne() {
    if (FEntries.Selected() < 0 || Running())
        return;
    FCheckKind = rkCheckOne;
    emit Busy();
    // One echo; the number for Ping runs and the bar's maximum stay.
    FPing->SetNumber(1);
    if (FInCheckAll)
        StartRun(FPing, history::Command::CheckAll, rkCheckAll);
    else
        StartRun(FPing, history::Command::CheckOne, rkCheckOne);
}

void RunController::PingEntry() {
    if (Running() || FEntries.Selected() < 0)
        return;
    emit Busy();
    StartRun(FPing, history::Command::Ping, rkPing);
}

void RunController::TraceEntry() {
    if (Running() || FEntries.Selected() < 0)
        return;
    emit Busy();
    StartRun(FTrace, history::Command::Trace, rkTrace);
}

void RunController::CheckAll() {
    if (Running() || FInCheckAll)
        return;
    FInCheckAll = true;
    FAllCancelled = false;
    FNext = 0;
    FCount = FEntries.Count();
    emit CheckAllBegins();
    // The checks of the entries after the current one go out ahead of their
    // turn; each entry is still checked, shown and stored by Ping in turn.
    if (FPing->Mode() == wsmAsync && FCount > 1)
        FAhead = new TLookAhead(FPing, FEntries.Items(), 1, this);
    NextEntry();
}

void RunController::NextEntry() {
    while (FInCheckAll) {
        if (FAllCancelled || FNext >= FCount || FNext >= FEntries.Count()) {
            EndCheckAll();
            return;
        }
        const int index = FNext++;
        ++FSerial;
        emit EntryBegins(index);
        FCheckKind = rkCheckAll;
        FEntries.Select(index);
        if (FAhead)
            FAhead->Reached(index);
        FStarting = true;
        CheckOne();
        FStarting = false;
        // The entry's end goes on with the next one.
        if (FPing->Busy())
            return;
        if (FPing->Cancelled())
            FAllCancelled = true;
    }
}

void RunController::ContinueCheckAll(unsigned serial) {
    // An entry's end may come as an error and then a finished event; the
    // component is busy until it has returned from the last of them.
    if (!FInCheckAll || serial != FSerial || FPing->Busy())
        return;
    if (FPing->Cancelled())
        FAllCancelled = true;
    NextEntry();
}

void RunController::EndCheckAll() {
    FInCheckAll = false;
    if (FCheckKind == rkCheckAll)
        FCheckKind = rkNone;
    delete FAhead.data();
    emit CheckAllEnds();
    if (FRoundOpen) {
        FRoundOpen = false;
        emit RoundEnded();
    }
}

void RunController::CheckEnded() {
    if (FCheckKind != rkNone) {
        FPing->SetNumber(FNumber);
        emit ProgressRange(FNumber);
    }
    FCheckKind = FInCheckAll ? rkCheckAll : rkNone;
    if (FInCheckAll && !FStarting)
        QMetaObject::invokeMethod(
            this, [this, serial = FSerial] { ContinueCheckAll(serial); }, Qt::QueuedConnection);
}

void RunController::Cancel() {
    // Nothing checked ahead of the current entry goes on.
    if (FAhead)
        FAhead->Stop();
    if (FInCheckAll)
        FAllCancelled = true;
    if (FPing->Busy())
        FPing->Cancel();
    if (FTrace->Busy())
        FTrace->Cancel();
    SetAutoRun(false);
}

void RunController::PingData() {
    emit Line(FPing->ReplyText());
    emit Progress(FPing->Sent());
}

void RunController::TraceData() {
    emit Line(FTrace->HopText());
    if (FTrace->SendTestPacket())
        emit Progress(FTrace->Hop());
}

void RunController::TraceTest() {
    emit ProgressRange(FTrace->ExpectedHops());
}

void RunController::PingError(QObject* sender, int error, const QString& message) {
    emit Line(QStringLiteral("Error ") + QString::number(error) + QStringLiteral(": ") + message);
    RunEnd end = FRun;
    if (auto* task = qobject_cast<TAxIcmpTask*>(sender))
        end.task = task;
    end.failed = true;
    end.error = error;
    end.message = message;
    emit RunEnded(end);
    // Nothing of this run is stored, also if a finished event follows.
    FRunFailed = true;
    emit Idle();
    CheckEnded();
}

void RunController::PingFinished() {
    emit Line(QStringLiteral("\r\n"));
    emit Line(FPing->StatsText());
    emit Line(QStringLiteral("\r\nIP Address: ") + FPing->HostAddress());
    emit Line(QStringLiteral("Destination: ") + FPing->HostName());
    emit Line(QStringLiteral("Return Name: ") + FPing->ReplyName());
    emit Idle();
    if (!FRunFailed) {
        emit RunEnded(FRun);
        emit ResultsReady();
    }
    CheckEnded();
}

void RunController::TraceFinished() {
    emit Line(QStringLiteral("\r\n"));
    emit Line(FTrace->SummaryText());
    emit Line(QStringLiteral("\r\nIP Address: ") + FTrace->HostAddress());
    emit Line(QStringLiteral("Destination: ") + FTrace->HostName());
    emit Line(QStringLiteral("Return Name: ") + FTrace->ReplyName());
    if (!FRunFailed) {
        emit RunEnded(FRun);
        emit ResultsReady();
    }
    emit Idle();
}

void RunController::SetAutoRun(bool on) {
    // Enabling a running timer keeps its count going.
    if (on != FTick->isActive()) {
        if (on)
            FTick->start();
        else
            FTick->stop();
    }
    if (!on)
        FAutoKind = rkNone;
    emit AutoRunChanged(on);
}

void RunController::StartAuto(TRunKind kind) {
    FAutoKind = kind;
    SetAutoRun(true);
    RunAuto(kind);
}

void RunController::TickTimer() {
    if (FCheckKind != rkNone || FInCheckAll)
        return;
    if (FAutoKind == rkNone)
        SetAutoRun(false);
    else
        RunAuto(FAutoKind);
}

void RunController::RunAuto(TRunKind kind) {
    switch (kind) {
    case rkCheckOne:
        CheckOne();
        break;
    case rkCheckAll:
        // A round ends when its Check All does, or at once when none starts.
        if (FInCheckAll) {
            emit RoundEnded();
            break;
        }
        FRoundOpen = true;
        CheckAll();
        if (FRoundOpen && !FInCheckAll) {
            FRoundOpen = false;
            emit RoundEnded();
        }
        break;
    case rkPing:
        PingEntry();
        break;
    case rkTrace:
        TraceEntry();
        break;
    case rkNone:
        break;
    }
}

} // namespace runs
