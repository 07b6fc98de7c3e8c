#pragma once

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

// One host as a scrape shows it, frozen when the scrape began.
struct HostSnapshot {
    QString host;
    QString ip;
    int ipVersion;
    HostStats stats;
};

// Writes the exposition of a frozen set of hosts piece by piece, every
// family in the Prometheus text format 0.0.4 or in OpenMetrics 1.0.0 (which
// ends in "# EOF"). A scrape of ten thousand hosts is tens of megabytes: it
// is written while the client reads it, a piece at a time between the
// event loop's other work, and never held whole. The copy keeps each host's
// figures consistent (no more answers than requests) however long the
// client takes.
class MetricsWriter {
public:
    MetricsWriter(std::vector<HostSnapshot> hosts,
                  const std::vector<std::pair<QString, QString>>& labels,
                  const ProbeFigures& figures, bool openMetrics);

    // Appends whole lines to out until about budget bytes were added (at
    // least one host's lines of a family, so a piece is never empty while
    // something is left); false once everything was written.
    bool Next(QByteArray& out, qsizetype budget);

private:
    void Write(QByteArray& out, qsizetype budget);

    std::vector<HostSnapshot> FHosts;
    std::vector<std::string> FSets; // every host's label set
    std::string FOwn;               // the user's labels alone
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
