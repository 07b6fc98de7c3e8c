#pragma once

#include "echo/TAxIcmpTask.h"

#include <cstdint>

// Traces the route to one target with echo requests of time-to-live 1, 2,
// 3 and so on, up to TimeToLive, stopping when the destination answers.
// With SendTestPacket a test echo with the full TimeToLive first predicts
// the number of hops (ExpectedHops) and fires OnTest.
class TAxTrace : public TAxIcmpTask {
    Q_OBJECT
public:
    explicit TAxTrace(QObject* AOwner);

    bool SendTestPacket() const { return FSendTestPacket; }
    void SetSendTestPacket(bool Value) { FSendTestPacket = Value; }
    std::uint8_t ExpectedHops() const { return FExpectedHops; }
    // The time-to-live, that is the hop number, of the echo in flight or
    // just completed.
    std::uint8_t Hop() const { return FOptions.Ttl; }

    // Fired after a test echo the destination answered, before the first hop.
    TNotifyEvent OnTest;

signals:
    // Just before OnTest.
    void Tested();

public:
    // The line of the hop just completed (tab-separated); empty outside a run.
    QString HopText() const;
    // The summary of the run from its last hop; it stays after the run and
    // is empty only until the first hop of a run has completed.
    QString SummaryText() const;

    // Hops to the destination predicted from the time-to-live of its reply
    // to the test echo; 0 for a time-to-live of 0.
    static std::uint8_t PredictHops(std::uint8_t replyTtl);

protected:
    void BeginRun() override;
    void CountReply() override;
    bool NextEcho() override;
    void TestDone();
    void DoTest();

private:
    // The target is the loopback address itself (127.0.0.1 or ::1).
    bool IsLoopbackTarget() const;
    std::uint8_t FExpectedHops = 0;
    bool FSendTestPacket = false;
    // A hop of the latest run has completed: the summary has values to show.
    bool FHopsDone = false;
};
