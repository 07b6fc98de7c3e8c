#pragma once

#include "echo/TLookAhead.h"
#include "runs/RunEnd.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>

class QTimer;
class TAxIcmpTask;
class TAxPing;
class TAxTrace;

// What the window runs: the check marker of a running Check One or Check
// All, and the command the automatic mode repeats.
enum TRunKind : std::uint8_t {
    rkCheckOne = 0,
    rkCheckAll = 1,
    rkPing = 2,
    rkTrace = 3,
    rkNone = 4
};

namespace runs {

// The entries the commands work on, as the window lists them.
class EntryList {
public:
    virtual ~EntryList() = default;
    virtual int Count() const = 0;
    virtual QString Item(int index) const = 0;
    virtual QStringList Items() const = 0;
    // The selected entry, or -1.
    virtual int Selected() const = 0;
    virtual void Select(int index) = 0;
};

// The runs of the main window without its widgets. It owns the Ping and
// Trace components and the automatic mode's timer, and drives Check One,
// Ping, Trace, Check All (with its look-ahead) and the automatic mode from
// the components' events; nothing waits in a nested event loop. What a run
// shows, stores and records leaves as signals:
//
//   Busy                  a run begins (the pane starts empty)
//   Line, Progress        a reply, a hop, an error, the closing lines
//   ProgressRange         the bar's maximum changes
//   RunEnded              a run has ended (failed for an error): its RunEnd,
//                         whose entry, command and automatic mark are those
//                         of the run's start
//   ResultsReady          the pane's lines belong to the selected entry now
//   Idle                  the run is over
//
// in the order the window has always handled them: a Ping's end gives its
// closing lines, Idle, RunEnded, ResultsReady; a Trace's end its closing
// lines, RunEnded, ResultsReady, Idle; an error its line, RunEnded (failed),
// Idle, and nothing is stored for that run.
//
// Check All wraps its entries' runs in CheckAllBegins / CheckAllEnds, and
// announces each entry with EntryBegins before selecting it; an automatic
// Check All ends its round with RoundEnded after CheckAllEnds.
class RunController : public QObject {
    Q_OBJECT
public:
    // entries must outlive the controller. Ping and Trace are made with
    // host as their owner (a form gives their resolvers the window that
    // asynchronous lookups answer to; without one they look up names in
    // blocking mode); they are the controller's all the same, and go with it.
    // host must outlive the controller.
    RunController(EntryList& entries, QObject* host, QObject* parent = nullptr);
    ~RunController() override;

    TAxPing* Ping() const { return FPing; }
    TAxTrace* Trace() const { return FTrace; }
    // The automatic mode's timer; its interval is the caller's.
    QTimer* Tick() const { return FTick; }

    // The echoes of a Ping run; a Check One sends one, then puts this back.
    void SetNumber(std::uint16_t number);
    std::uint16_t Number() const { return FNumber; }

    // The check marker: rkCheckOne while an entry's check runs (also inside
    // Check All), rkCheckAll between the entries of a Check All, else rkNone.
    // It starts as rkCheckOne until ResetCheckKind, so that the automatic
    // mode does nothing before the window is first shown.
    TRunKind CheckKind() const { return FCheckKind; }
    void ResetCheckKind() { FCheckKind = rkNone; }
    TRunKind AutoKind() const { return FAutoKind; }
    // True from the first entry of a Check All until its CheckAllEnds.
    bool InCheckAll() const { return FInCheckAll; }
    // A run of Ping or Trace is in flight.
    bool Running() const;

    // The commands, for the selected entry. Each does nothing while a run
    // is in flight or without a selection.
    void CheckOne();
    void PingEntry();
    void TraceEntry();
    // Checks every entry in turn, each with one echo, selecting it first.
    void CheckAll();
    // Ends the run in flight at its next completion, sends nothing more
    // ahead, stops Check All after the current entry and the automatic mode.
    void Cancel();

    // The automatic mode: kind runs at once and again at every tick.
    void StartAuto(TRunKind kind);
    void SetAutoRun(bool on);
    void TickTimer();

    // The checks a running Check All has sent ahead, or null.
    TLookAhead* Ahead() const { return FAhead.data(); }

signals:
    void Busy();
    void Idle();
    void Line(const QString& text);
    void Progress(int position);
    void ProgressRange(int maximum);
    void RunEnded(const runs::RunEnd& end);
    void ResultsReady();
    void CheckAllBegins();
    void EntryBegins(int index);
    void CheckAllEnds();
    void RoundEnded();
    void AutoRunChanged(bool on);

private:
    void StartRun(TAxIcmpTask* task, history::Command kind, TRunKind autoKind);
    void PingData();
    void TraceData();
    void TraceTest();
    void PingError(QObject* sender, int error, const QString& message);
    void PingFinished();
    void TraceFinished();
    // The check of an entry has ended: back to the number of echoes, and
    // Check All goes on.
    void CheckEnded();
    // Runs the command the automatic mode repeats.
    void RunAuto(TRunKind kind);
    // Check All: checks entries until one is in flight; queued after an
    // entry's end, once its component has returned.
    void NextEntry();
    void ContinueCheckAll(unsigned serial);
    void EndCheckAll();

    EntryList& FEntries;
    TAxPing* FPing;
    TAxTrace* FTrace;
    QTimer* FTick;
    std::uint16_t FNumber = 10;
    TRunKind FCheckKind = rkCheckOne;
    TRunKind FAutoKind = rkNone;
    // Set by an error event of the current run: its finished event, if one
    // follows, stores nothing.
    bool FRunFailed = false;
    // The run in flight, as it started.
    RunEnd FRun;
    bool FInCheckAll = false;
    // Check All is starting an entry: an end met before Start returns is
    // handled by NextEntry's own loop.
    bool FStarting = false;
    bool FAllCancelled = false;
    // An automatic round waits for its Check All to end.
    bool FRoundOpen = false;
    int FNext = 0;
    int FCount = 0;
    // Counts entries started, so that a continuation queued twice for one
    // entry (an error, then its finished event) goes on once.
    unsigned FSerial = 0;
    QPointer<TLookAhead> FAhead;
};

} // namespace runs
