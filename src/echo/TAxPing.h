#pragma once

#include "echo/TAxIcmpTask.h"

#include <cstdint>

// Sends Number echo requests to one target, one after another, counts the
// answers and keeps the minimum, running average and maximum round-trip
// time; formats one line per echo and a statistics line per run. For an
// entry that names a port the echoes are TCP or UDP probes, counted alike.
class TAxPing : public TAxIcmpTask {
    Q_OBJECT
public:
    explicit TAxPing(QObject* AOwner);

    // Echoes per run; 0 sends one.
    std::uint16_t Number() const { return FNumber; }
    void SetNumber(std::uint16_t Value) { FNumber = Value; }

    std::uint16_t Sent() const { return FSent; }
    std::uint16_t Received() const { return FReceived; }
    std::uint16_t MinTime() const { return FMinTime; }
    std::uint16_t MaxTime() const { return FMaxTime; }
    std::uint16_t AvgTime() const { return FAvgTime; }

    // The line of the echo just completed; empty outside a run.
    QString ReplyText() const;
    // The statistics line of the run; empty outside a run.
    QString StatsText() const;

protected:
    void BeginRun() override;
    void CountReply() override;
    bool NextEcho() override;
    // Every echo of a Ping has the same parameters: the rest of the run can
    // go as one series.
    int EchoesLeft() const override { return FNumber > FSent ? FNumber - FSent + 1 : 1; }

private:
    // The line of a TCP or UDP probe: what answered, and from where.
    QString PortReplyText() const;

    std::uint16_t FNumber = 5;
    std::uint16_t FSent = 0;
    std::uint16_t FReceived = 0;
    std::uint16_t FMinTime = 0;
    std::uint16_t FMaxTime = 0;
    std::uint16_t FAvgTime = 0;
};
