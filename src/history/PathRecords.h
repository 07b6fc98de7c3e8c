#pragma once

#include "paths/Address.h"
#include "paths/MinuteSummary.h"

#include <QByteArray>
#include <QList>

namespace history {

// The stored form of a watched path's minute: one blob for every hop and
// responder of the minute, so that a path costs one row a minute.
//
// The blob starts with its format byte, then the number of hops; each hop
// holds its TTL (as the step from the hop before), sent, answered,
// forwarded losses, its round-trip sums and histogram, and its responders.
// Numbers are unsigned varints (7 bits a byte, low bits first); round-trip
// sums are kept in whole microseconds (squares in µs²), so that adding
// minutes up is exact from the first rounding on. A histogram is a bit mask
// of its non-empty buckets followed by their counts. A responder is its
// address (family byte, then 4 or 16 bytes) and a flag: 1 when its figures
// are the hop's own (the usual hop with one responder), else its own
// figures with its sent as the shortfall from the hop's.
//
// Unpacking gives back MinuteSummary records as the engine makes them (each
// hop's own, then its responders'), with sums that are whole microseconds;
// a damaged blob gives the records read before the damage.
QByteArray PackMinute(const QList<paths::MinuteSummary>& records);
QList<paths::MinuteSummary> UnpackMinute(const QByteArray& blob, qint64 minuteStartMs);

// The two parts of a minute added up: records of the same TTL and
// responder add their sums and histograms; the others are taken as they
// are. Hops in TTL order, each hop's own record before its responders'.
QList<paths::MinuteSummary> AddMinutes(const QList<paths::MinuteSummary>& a,
                                       const QList<paths::MinuteSummary>& b);

// A route as stored: the number of TTLs, then for each the number of
// responders and their addresses.
QByteArray PackRoute(const paths::Route& route);
paths::Route UnpackRoute(const QByteArray& blob);

} // namespace history
