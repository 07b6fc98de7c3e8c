#pragma once

#include "platform/ProbeEntry.h"
#include "states/HostState.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The counters of one probed host and their exposition for Prometheus.
namespace probe {

// Upper bounds of the round-trip histogram in seconds: 50 µs doubling
// twenty times, up to about 26 s.
inline constexpr int RttBucketCount = 20;
const std::array<double, RttBucketCount>& RttBucketBounds();

// What became of one echo request.
enum class Outcome { Answer, TimedOut, Unreachable, SendError };

// Sorts an engine status (0 for an echo reply) into an outcome; for
// Unreachable, code names the ICMP error ("host_unreachable", ...).
Outcome ClassifyStatus(int status, std::string& code);

// Where the host stands (Unknown, Up, Degraded or Down): set from whether
// it answered its last request, and by the prober from its state machine
// over the recent requests.
using states::HostState;

struct HostStats {
    std::uint64_t requests = 0;
    std::uint64_t answers = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t sendErrors = 0;
    std::uint64_t nameErrors = 0;
    std::map<std::string, std::uint64_t> unreachable; // by code
    // Per bucket, not cumulative; the last one holds what is above all bounds.
    std::array<std::uint64_t, RttBucketCount + 1> rttBuckets{};
    double rttSum = 0;
    int lastTtl = -1;
    HostState state = HostState::Unknown;

    void AddAnswer(double rttSeconds, int ttl);
    void AddFailure(Outcome outcome, const std::string& code);
};

// Upper bounds of a hop's round-trip histogram in seconds: 0.1 ms times
// four to the k, up to about 1.6 s. Every bound is also one of the hosts'
// (RttBucketBounds), with the same "le" text, so a hop and a host can be
// put side by side; eight bounds instead of twenty keep a path of thirty
// hops at 330 histogram series instead of 690. Within a bucket a quantile
// errs by up to a factor of four: a heatmap shows where a hop's round
// trips lie, exact figures are the desktop's business.
inline constexpr int PathRttBucketCount = 8;
const std::array<double, PathRttBucketCount>& PathRttBucketBounds();

// One hop (TTL) of a path.
struct HopStats {
    int ttl = 0;
    std::uint64_t requests = 0;
    std::uint64_t answers = 0;
    // Per bucket, not cumulative; the last one holds what is above all bounds.
    std::array<std::uint64_t, PathRttBucketCount + 1> rttBuckets{};
    double rttSum = 0;        // seconds
    double forwardedLoss = 0; // ratio over the watch's recent rounds
    double jitter = 0;        // seconds
};

// A node that answered at a hop lately.
struct HopResponder {
    int ttl = 0;
    QString address;
    QString name; // its reverse name; empty while none is known
};

struct PathStats {
    std::uint64_t nameErrors = 0;
    std::uint64_t changes = 0;            // route changes since the watch began
    int hops = 0;                         // the target's distance; 0 while unknown
    std::vector<HopStats> hopStats;       // the hops the watch shows, TTL 1 first
    std::vector<HopResponder> responders; // by TTL, then address
};

// One host as the exposition shows it.
struct HostSeries {
    QString host;
    QString ip;    // empty while the name has no address
    int ipVersion; // 4, 6, or 0 while unknown
    const HostStats* stats;
};

// The probe's own figures.
struct ProbeFigures {
    std::uint64_t lateRequests = 0;
    std::uint64_t reloads = 0;
    std::uint64_t reloadFailures = 0;
    std::size_t hosts = 0;
};

// One host as a scrape shows it, frozen when the scrape began. A TCP or
// UDP target's series also carry probe="tcp" or "udp" and port="N" after
// ip_version; an ICMP host's carry neither, as they always did.
struct HostSnapshot {
    QString host;
    QString ip;
    int ipVersion;
    HostStats stats;
    platform::ProbeKind kind = platform::ProbeKind::Icmp;
    std::uint16_t port = 0;
};

// One watched path likewise.
struct PathSnapshot {
    QString host;
    QString ip;    // the target's address; empty while the name has none
    int ipVersion; // 4, 6, or 0 while unknown
    PathStats stats;
    platform::ProbeKind kind = platform::ProbeKind::Icmp;
    std::uint16_t port = 0;
};

// Writes the exposition of a frozen set of hosts and paths piece by piece,
// every family in the Prometheus text format 0.0.4 or in OpenMetrics 1.0.0
// (which ends in "# EOF"). The paths' families come after the hosts' and
// only when there are paths, so a prober without paths writes what it
// always wrote. A scrape of ten thousand hosts is tens of megabytes: it
// is written while the client reads it, a piece at a time between the
// event loop's other work, and never held whole. The copy keeps each host's
// figures consistent (no more answers than requests) however long the
// client takes.
class MetricsWriter {
public:
    MetricsWriter(std::vector<HostSnapshot> hosts,
                  const std::vector<std::pair<QString, QString>>& labels,
                  const ProbeFigures& figures, bool openMetrics,
                  std::vector<PathSnapshot> paths = {});

    // Appends whole lines to out until about budget bytes were added (at
    // least one host's or path's lines of a family, so a piece is never
    // empty while something is left); false once everything was written.
    bool Next(QByteArray& out, qsizetype budget);

private:
    void Write(QByteArray& out, qsizetype budget);

    std::vector<HostSnapshot> FHosts;
    std::vector<PathSnapshot> FPaths;
    std::vector<std::string> FSets;     // every host's label set
    std::vector<std::string> FPathSets; // every path's
    std::string FOwn;                   // the user's labels alone
    ProbeFigures FFigures;
    bool FOpenMetrics;
    int FFamily = 0;
    std::size_t FHost = 0;
    bool FHeaderDone = false;
};

// The whole exposition at once, for hosts whose figures do not change
// while it is written.
QByteArray RenderMetrics(const std::vector<HostSeries>& hosts,
                         const std::vector<std::pair<QString, QString>>& labels,
                         const ProbeFigures& figures, bool openMetrics);

// Content types of the two formats.
inline constexpr const char* TextContentType = "text/plain; version=0.0.4; charset=utf-8";
inline constexpr const char* OpenMetricsContentType =
    "application/openmetrics-text; version=1.0.0; charset=utf-8";

// Escapes a label value: backslash, double quote and line feed.
std::string EscapeLabelValue(const QString& value);

} // namespace probe
