#pragma once

#include "states/HostState.h"

#include <QString>
#include <QVector>
#include <cstdint>

namespace history {

// What a run was: the command that started it.
enum class Command : std::uint8_t { CheckOne = 0, CheckAll = 1, Ping = 2, Trace = 3 };

// How a run ended. Only Answered counts as the host answering; a cancelled
// run says nothing about the host.
enum class Outcome : std::uint8_t {
    Answered = 0,
    TimedOut = 1,
    Unreachable = 2,
    Error = 3,
    Cancelled = 4
};

// One echo of a run: its round-trip time, or the status that says why no
// answer came. For a trace, Ttl is the hop and Node the address that answered.
struct Echo {
    int Status = 0; // 0 answered by the target, else the ICMP or engine code
    int Rtt = -1;   // milliseconds; -1 when nothing came back
    int Ttl = 0;
    QString Node;
};

// One run as the history keeps it.
struct RunRecord {
    qint64 TimeMs = 0; // end of the run, milliseconds since 1970 UTC
    QString Entry;     // the text of the address list entry
    QString Address;   // the address the run went to; empty when unresolved
    Command Kind = Command::CheckOne;
    bool Automatic = false;
    int Sent = 0;
    int Received = 0;
    int MinRtt = -1; // -1: no answer
    int AvgRtt = -1;
    int MaxRtt = -1;
    Outcome Result = Outcome::Error;
    int Code = 0;    // the status code of the outcome; 0 when answered
    QString Message; // the error text of an error run
    QVector<Echo> Echoes;
};

// A host's state changed with the run at TimeMs.
struct StateRecord {
    qint64 TimeMs = 0;
    QString Entry;
    states::HostState State = states::HostState::Unknown; // stored by its number
};

inline bool Answering(Outcome o) {
    return o == Outcome::Answered;
}

// "answered", "timed out", ... as the CSV export and the window show them.
QString OutcomeName(Outcome o);
QString CommandName(Command c);

// The ping and trace echoes as stored: one item per echo, comma-separated;
// a number is a round-trip time, "*" a timeout, "!code" another failure.
// A trace item carries the hop and the node: "ttl:rtt@node".
QString EncodeEchoes(const QVector<Echo>& echoes, bool trace);
QVector<Echo> DecodeEchoes(const QString& text, bool trace);

} // namespace history
