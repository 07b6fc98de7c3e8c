#pragma once

#include "paths/PathWatch.h"

#include <QByteArray>
#include <QString>

namespace paths {

// The figures of a path as text, pure functions of PathFigures.
//
// Each responder of a hop is a row of its own: the first carries the hop's
// number, loss, forwarded loss and sent, those below it leave them empty and
// carry their own round trips. A hop that never answered is one row with
// "no answer" for its host and nothing in the figures. The host is "name
// (address)", or the address alone while no name is known. Loss and
// forwarded loss cover the same span, the last PathWatch::RecentRounds
// rounds. Times are in ms with one decimal; loss in percent with one
// decimal.

// A plain-text table with a header line and columns aligned: Hop, Host,
// Loss %, Forwarded loss %, Sent, Last, Avg, Best, Worst, StDev, Jitter. Numbers
// are right-aligned, hosts left-aligned; lines end with '\n' and have no
// trailing blanks.
QString ReportText(const PathFigures& figures);
// CSV (RFC 4180, lines ending "\r\n", UTF-8): a header line, then one line
// per row with the hop, name and address apart, the answered count, median
// and 95th percentile besides the columns of the table. A field is quoted
// when it holds a comma, a quote or a line break, and a text field that
// starts with = + - @ gets a leading apostrophe so that a spreadsheet does
// not run it as a formula.
QByteArray ReportCsv(const PathFigures& figures);
// JSON: {"target", "rounds", "distance", "flapping", "hops": [{"ttl",
// "sent", "answered", "lossPercent", "forwardedLossPercent", "silent", the
// hop's round-trip figures, "responders": [{"address", "name", "sent",
// "answered", "lossPercent", round-trip figures}]}]}; round-trip figures as
// "lastMs", "bestMs", "worstMs", "meanMs", "stdevMs", "jitterMs",
// "medianMs", "p95Ms".
QByteArray ReportJson(const PathFigures& figures);

} // namespace paths
