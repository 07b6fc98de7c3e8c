#include "probe/ProbeMetrics.h"

#include "platform/IcmpTypes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace probe {

const std::array<double, RttBucketCount>& RttBucketBounds() {
    static const std::array<double, RttBucketCount> bounds = [] {
        std::array<double, RttBucketCount> b{};
        for (int i = 0; i < RttBucketCount; ++i)
            b[static_cast<std::size_t>(i)] = 0.00005 * std::ldexp(1.0, i);
        return b;
    }();
    return bounds;
}

const std::array<double, PathRttBucketCount>& PathRttBucketBounds() {
    static const std::array<double, PathRttBucketCount> bounds = [] {
        std::array<double, PathRttBucketCount> b{};
        // Every second bound of the hosts' from 0.1 ms: the very same
        // numbers, so their "le" texts are the same too.
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = RttBucketBounds()[1 + 2 * i];
        return b;
    }();
    return bounds;
}

Outcome ClassifyStatus(int status, std::string& code) {
    code.clear();
    switch (static_cast<std::uint32_t>(status)) {
    case IcmpStatus::Success:
        return Outcome::Answer;
    case IcmpStatus::ReqTimedOut:
        return Outcome::TimedOut;
    case IcmpStatus::DestNetUnreachable:
        code = "net_unreachable";
        return Outcome::Unreachable;
    case IcmpStatus::DestHostUnreachable:
        code = "host_unreachable";
        return Outcome::Unreachable;
    case IcmpStatus::DestProtUnreachable:
        code = "protocol_unreachable";
        return Outcome::Unreachable;
    case IcmpStatus::DestPortUnreachable:
        code = "port_unreachable";
        return Outcome::Unreachable;
    case IcmpStatus::PacketTooBig:
        code = "packet_too_big";
        return Outcome::Unreachable;
    case IcmpStatus::BadRoute:
        code = "bad_route";
        return Outcome::Unreachable;
    case IcmpStatus::TtlExpiredTransit:
        code = "ttl_expired";
        return Outcome::Unreachable;
    case IcmpStatus::TtlExpiredReassem:
        code = "reassembly_expired";
        return Outcome::Unreachable;
    case IcmpStatus::ParamProblem:
        code = "parameter_problem";
        return Outcome::Unreachable;
    case IcmpStatus::SourceQuench:
        code = "source_quench";
        return Outcome::Unreachable;
    case IcmpStatus::BadDestination:
        code = "bad_destination";
        return Outcome::Unreachable;
    default:
        return Outcome::SendError;
    }
}

void HostStats::AddAnswer(double rttSeconds, int ttl) {
    ++answers;
    const auto& bounds = RttBucketBounds();
    std::size_t i = 0;
    while (i < bounds.size() && rttSeconds > bounds[i])
        ++i;
    ++rttBuckets[i];
    rttSum += rttSeconds;
    lastTtl = ttl;
    state = HostState::Up;
}

void HostStats::AddFailure(Outcome outcome, const std::string& code) {
    switch (outcome) {
    case Outcome::Answer:
        return;
    case Outcome::TimedOut:
        ++timeouts;
        break;
    case Outcome::Unreachable:
        ++unreachable[code];
        break;
    case Outcome::SendError:
        ++sendErrors;
        break;
    }
    state = HostState::Down;
}

std::string EscapeLabelValue(const QString& value) {
    QByteArray utf8 = value.toUtf8();
    std::string out;
    out.reserve(static_cast<std::size_t>(utf8.size()));
    for (char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

namespace {

// Lines are written straight into the piece being served, through a
// pointer: most writes are a few bytes, and a general append per write
// costs more than the copying itself.
class Out {
public:
    explicit Out(QByteArray& bytes) : FBytes(bytes), FUsed(bytes.size()) {}
    ~Out() { FBytes.resize(FUsed); }
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;

    qsizetype Size() const { return FUsed; }
    void append(const char* first, const char* last) {
        const auto n = static_cast<qsizetype>(last - first);
        Room(n);
        std::memcpy(FData + FUsed, first, static_cast<std::size_t>(n));
        FUsed += n;
    }
    void append(std::string_view v) { append(v.data(), v.data() + v.size()); }
    Out& operator+=(std::string_view v) {
        append(v);
        return *this;
    }
    Out& operator+=(const char* v) { return *this += std::string_view(v); }
    Out& operator+=(const std::string& v) { return *this += std::string_view(v); }
    Out& operator+=(char c) {
        Room(1);
        FData[FUsed++] = c;
        return *this;
    }

private:
    void Room(qsizetype n) {
        if (FData && FUsed + n <= FBytes.size())
            return;
        // Grown with room to spare and cut to the written size at the end;
        // QByteArray leaves the new bytes as they are, so nothing is
        // written twice.
        FBytes.resize(std::max(FUsed + n, std::max<qsizetype>(FBytes.size() * 2, 4096)));
        FData = FBytes.data();
    }

    QByteArray& FBytes;
    qsizetype FUsed;
    char* FData = nullptr;
};

template <class Sink> void appendUnsigned(Sink& out, std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The shortest text that reads back as value, in the style of the common
// Prometheus clients ("5e-05", "0.0001", "26.2144", "1e+06"): bucket bounds
// are label values, and dashboards and queries match them as text.
template <class Sink> void appendDouble(Sink& out, double value) {
    char buffer[64];
    if (!std::isfinite(value)) {
        out += std::isnan(value) ? "NaN" : (value > 0 ? "+Inf" : "-Inf");
        return;
    }
    auto sci =
        std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::scientific);
    // to_chars writes no terminator; the exponent is read up to this one.
    *sci.ptr = '\0';
    std::string_view text(buffer, static_cast<std::size_t>(sci.ptr - buffer));
    int exponent = std::atoi(text.data() + text.find('e') + 1);
    if (value != 0 && (exponent < -4 || exponent >= 6)) {
        out.append(text);
        return;
    }
    auto fixed = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    out.append(buffer, fixed.ptr);
}

// Writes the family header: HELP and TYPE. OpenMetrics names a counter
// family without its "_total".
void header(Out& out, const char* name, const char* type, const char* help, bool om) {
    std::string_view family = name;
    if (om && family.ends_with("_total"))
        family.remove_suffix(6);
    out += "# HELP ";
    out += family;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += family;
    out += ' ';
    out += type;
    out += '\n';
    if (om && family.ends_with("_seconds")) {
        out += "# UNIT ";
        out += family;
        out += " seconds\n";
    } else if (om && family.ends_with("_ratio")) {
        out += "# UNIT ";
        out += family;
        out += " ratio\n";
    }
}

// "name{labels[,extra]} ", the start of a sample's line.
void sampleStart(Out& out, std::string_view name, const std::string& labels,
                 std::string_view extra) {
    out += name;
    out += '{';
    out += labels;
    if (!extra.empty()) {
        out += ',';
        out += extra;
    }
    out += "} ";
}

// name{labels[,extra]} value
void sample(Out& out, std::string_view name, const std::string& labels, std::string_view extra,
            std::uint64_t value) {
    sampleStart(out, name, labels, extra);
    appendUnsigned(out, value);
    out += '\n';
}

void sampleDouble(Out& out, std::string_view name, const std::string& labels,
                  std::string_view extra, double value) {
    sampleStart(out, name, labels, extra);
    appendDouble(out, value);
    out += '\n';
}

// host, ip, ip_version, for a port's target probe and port, then the
// user's labels (common starts with a comma).
std::string labelSet(const QString& host, const QString& ip, int ipVersion,
                     platform::ProbeKind kind, std::uint16_t port, const std::string& common) {
    std::string s =
        "host=\"" + EscapeLabelValue(host) + "\",ip=\"" + EscapeLabelValue(ip) + "\",ip_version=\"";
    if (ipVersion != 0)
        appendUnsigned(s, static_cast<std::uint64_t>(ipVersion));
    s += '"';
    if (kind != platform::ProbeKind::Icmp) {
        s += ",probe=\"";
        s += platform::ProbeKindName(kind);
        s += "\",port=\"";
        appendUnsigned(s, port);
        s += '"';
    }
    s += common;
    return s;
}

// The families in the order they are written; each but the last has a
// run of lines per host.
enum Family {
    Requests,
    Answers,
    Failures,
    Rtt,
    Ttl,
    State,
    // Written only when there are paths: a run of lines per path.
    PathHopRequests,
    PathHopAnswers,
    PathHopForwardedLoss,
    PathHopRtt,
    PathHopJitter,
    PathHopInfo,
    PathHops,
    PathChanges,
    PathNameErrors,
    Own,
    Done,
};

// The le="…" labels of a histogram's bounds.
template <class Bounds> std::vector<std::string> leLabels(const Bounds& bounds) {
    std::vector<std::string> v;
    for (double b : bounds) {
        std::string le = "le=\"";
        appendDouble(le, b);
        le += '"';
        v.push_back(std::move(le));
    }
    return v;
}

// The path histogram's bucket labels.
const std::vector<std::string>& pathBucketLabels() {
    static const std::vector<std::string> les = leLabels(PathRttBucketBounds());
    return les;
}

std::string ttlLabel(int ttl) {
    std::string label = "ttl=\"";
    appendUnsigned(label, static_cast<std::uint64_t>(ttl));
    label += '"';
    return label;
}

// The histogram's bucket labels, le="5e-05" and on.
const std::vector<std::string>& bucketLabels() {
    static const std::vector<std::string> les = leLabels(RttBucketBounds());
    return les;
}

// One path's lines of one family: a line per hop or responder, or one.
void writePath(Out& out, Family family, const PathStats& p, const std::string& set) {
    switch (family) {
    case PathHopRequests:
        for (const HopStats& h : p.hopStats)
            sample(out, "netsonde_path_hop_requests_total", set, ttlLabel(h.ttl), h.requests);
        break;
    case PathHopAnswers:
        for (const HopStats& h : p.hopStats)
            sample(out, "netsonde_path_hop_answers_total", set, ttlLabel(h.ttl), h.answers);
        break;
    case PathHopForwardedLoss:
        for (const HopStats& h : p.hopStats)
            sampleDouble(out, "netsonde_path_hop_forwarded_loss_ratio", set, ttlLabel(h.ttl),
                         h.forwardedLoss);
        break;
    case PathHopRtt: {
        const auto& les = pathBucketLabels();
        for (const HopStats& h : p.hopStats) {
            const std::string ttl = ttlLabel(h.ttl);
            std::uint64_t cumulative = 0;
            for (std::size_t b = 0; b < les.size(); ++b) {
                cumulative += h.rttBuckets[b];
                sample(out, "netsonde_path_hop_rtt_seconds_bucket", set, ttl + ',' + les[b],
                       cumulative);
            }
            cumulative += h.rttBuckets[les.size()];
            sample(out, "netsonde_path_hop_rtt_seconds_bucket", set, ttl + ",le=\"+Inf\"",
                   cumulative);
            sampleDouble(out, "netsonde_path_hop_rtt_seconds_sum", set, ttl, h.rttSum);
            sample(out, "netsonde_path_hop_rtt_seconds_count", set, ttl, cumulative);
        }
        break;
    }
    case PathHopJitter:
        for (const HopStats& h : p.hopStats)
            sampleDouble(out, "netsonde_path_hop_jitter_seconds", set, ttlLabel(h.ttl), h.jitter);
        break;
    case PathHopInfo:
        for (const HopResponder& r : p.responders)
            sample(out, "netsonde_path_hop_info", set,
                   ttlLabel(r.ttl) + ",responder=\"" + EscapeLabelValue(r.address) + "\",name=\"" +
                       EscapeLabelValue(r.name) + '"',
                   std::uint64_t{1});
        break;
    case PathHops:
        sample(out, "netsonde_path_hops", set, {}, static_cast<std::uint64_t>(p.hops));
        break;
    case PathChanges:
        sample(out, "netsonde_path_changes_total", set, {}, p.changes);
        break;
    case PathNameErrors:
        sample(out, "netsonde_path_name_errors_total", set, {}, p.nameErrors);
        break;
    default:
        break;
    }
}

} // namespace

MetricsWriter::MetricsWriter(std::vector<HostSnapshot> hosts,
                             const std::vector<std::pair<QString, QString>>& labels,
                             const ProbeFigures& figures, bool openMetrics,
                             std::vector<PathSnapshot> paths)
    : FHosts(std::move(hosts)), FPaths(std::move(paths)), FFigures(figures),
      FOpenMetrics(openMetrics) {
    std::string common;
    for (const auto& [name, value] : labels) {
        common += ',';
        common += name.toStdString();
        common += "=\"";
        common += EscapeLabelValue(value);
        common += '"';
    }
    FOwn = common.empty() ? std::string() : common.substr(1);
    // Every host's label set once: host, ip, ip_version, then the user's.
    FSets.reserve(FHosts.size());
    for (const HostSnapshot& h : FHosts)
        FSets.push_back(labelSet(h.host, h.ip, h.ipVersion, h.kind, h.port, common));
    FPathSets.reserve(FPaths.size());
    for (const PathSnapshot& p : FPaths)
        FPathSets.push_back(labelSet(p.host, p.ip, p.ipVersion, p.kind, p.port, common));
}

bool MetricsWriter::Next(QByteArray& out, qsizetype budget) {
    if (FFamily == Done)
        return false;
    Write(out, budget);
    return true;
}

void MetricsWriter::Write(QByteArray& bytes, qsizetype budget) {
    Out out(bytes);
    const qsizetype limit = out.Size() + std::max<qsizetype>(budget, 1);
    const bool om = FOpenMetrics;
    while (FFamily != Done && out.Size() < limit) {
        if (FFamily == PathHopRequests && FPaths.empty()) {
            FFamily = Own;
            continue;
        }
        const auto family = static_cast<Family>(FFamily);
        const bool pathFamily = FFamily >= PathHopRequests && FFamily < Own;
        if (!FHeaderDone) {
            FHeaderDone = true;
            switch (family) {
            case Requests:
                header(out, "netsonde_requests_total", "counter", "Echo requests sent.", om);
                break;
            case Answers:
                header(out, "netsonde_answers_total", "counter", "Echo replies received.", om);
                break;
            case Failures:
                header(out, "netsonde_failures_total", "counter",
                       "Echo requests without a reply, and failed name lookups, by kind.", om);
                break;
            case Rtt:
                header(out, "netsonde_rtt_seconds", "histogram",
                       "Round-trip time of answered requests.", om);
                break;
            case Ttl:
                header(out, "netsonde_answer_ttl", "gauge",
                       "Time-to-live (IPv4) or hop limit (IPv6) of the last reply.", om);
                break;
            case State:
                header(out, "netsonde_host_state", "gauge",
                       "1 for the state the host is in, 0 for the others: up, degraded (slow or "
                       "losing requests), down (not answering), unknown (too few requests yet).",
                       om);
                break;
            case PathHopRequests:
                header(out, "netsonde_path_hop_requests_total", "counter",
                       "Echo requests sent to a path with this TTL.", om);
                break;
            case PathHopAnswers:
                header(out, "netsonde_path_hop_answers_total", "counter",
                       "Answers at this TTL: a router's time exceeded or unreachable report, or "
                       "the target's reply.",
                       om);
                break;
            case PathHopForwardedLoss:
                header(out, "netsonde_path_hop_forwarded_loss_ratio", "gauge",
                       "Share of the last 100 rounds lost at this TTL and at every later one: "
                       "loss the path passes on, not a router limiting its own answers.",
                       om);
                break;
            case PathHopRtt:
                header(out, "netsonde_path_hop_rtt_seconds", "histogram",
                       "Round-trip time of the answers at this TTL.", om);
                break;
            case PathHopJitter:
                header(out, "netsonde_path_hop_jitter_seconds", "gauge",
                       "Mean difference between consecutive round trips at this TTL.", om);
                break;
            case PathHopInfo:
                header(out, "netsonde_path_hop_info", "gauge",
                       "1 for each node that answered at this TTL in the last 10 minutes, with "
                       "its address and reverse name.",
                       om);
                break;
            case PathHops:
                header(out, "netsonde_path_hops", "gauge",
                       "TTL at which the target answers; 0 while it has not.", om);
                break;
            case PathChanges:
                header(out, "netsonde_path_changes_total", "counter",
                       "Route changes: a different node answering at some TTL for consecutive "
                       "rounds.",
                       om);
                break;
            case PathNameErrors:
                header(out, "netsonde_path_name_errors_total", "counter",
                       "Failed lookups of a path's name.", om);
                break;
            case Own:
            case Done:
                break;
            }
        }
        if (pathFamily) {
            for (; FHost < FPaths.size() && out.Size() < limit; ++FHost)
                writePath(out, family, FPaths[FHost].stats, FPathSets[FHost]);
            if (FHost >= FPaths.size()) {
                FHost = 0;
                FHeaderDone = false;
                ++FFamily;
            }
            continue;
        }
        if (family == Own) {
            auto single = [&](const char* name, const char* type, const char* help,
                              std::uint64_t v) {
                header(out, name, type, help, om);
                out += name;
                if (!FOwn.empty()) {
                    out += '{';
                    out += FOwn;
                    out += '}';
                }
                out += ' ';
                appendUnsigned(out, v);
                out += '\n';
            };
            single("netsonde_probe_hosts", "gauge", "Hosts probed.", FFigures.hosts);
            single("netsonde_probe_late_requests_total", "counter",
                   "Requests sent more than one interval after their time.", FFigures.lateRequests);
            single("netsonde_probe_reloads_total", "counter", "Host list reloads.",
                   FFigures.reloads);
            single("netsonde_probe_reload_failures_total", "counter",
                   "Host list reloads that failed and kept the list.", FFigures.reloadFailures);
            if (om)
                out += "# EOF\n";
            FFamily = Done;
            break;
        }
        // One family's lines, host after host, until the piece is full.
        for (; FHost < FHosts.size() && out.Size() < limit; ++FHost) {
            const HostStats& s = FHosts[FHost].stats;
            const std::string& set = FSets[FHost];
            switch (family) {
            case Requests:
                sample(out, "netsonde_requests_total", set, {}, s.requests);
                break;
            case Answers:
                sample(out, "netsonde_answers_total", set, {}, s.answers);
                break;
            case Failures:
                sample(out, "netsonde_failures_total", set, "kind=\"timeout\"", s.timeouts);
                for (const auto& [code, count] : s.unreachable)
                    sample(out, "netsonde_failures_total", set,
                           "kind=\"unreachable\",code=\"" + code + '"', count);
                sample(out, "netsonde_failures_total", set, "kind=\"send_error\"", s.sendErrors);
                sample(out, "netsonde_failures_total", set, "kind=\"name_error\"", s.nameErrors);
                break;
            case Rtt: {
                const auto& les = bucketLabels();
                std::uint64_t cumulative = 0;
                for (std::size_t b = 0; b < les.size(); ++b) {
                    cumulative += s.rttBuckets[b];
                    sample(out, "netsonde_rtt_seconds_bucket", set, les[b], cumulative);
                }
                cumulative += s.rttBuckets[les.size()];
                sample(out, "netsonde_rtt_seconds_bucket", set, "le=\"+Inf\"", cumulative);
                out += "netsonde_rtt_seconds_sum{";
                out += set;
                out += "} ";
                appendDouble(out, s.rttSum);
                out += '\n';
                sample(out, "netsonde_rtt_seconds_count", set, {}, cumulative);
                break;
            }
            case Ttl:
                if (s.lastTtl >= 0)
                    sample(out, "netsonde_answer_ttl", set, {},
                           static_cast<std::uint64_t>(s.lastTtl));
                break;
            case State: {
                static const std::array<std::pair<HostState, std::string>, 4> states = [] {
                    std::array<std::pair<HostState, std::string>, 4> labels;
                    std::size_t i = 0;
                    for (HostState state :
                         {HostState::Up, HostState::Degraded, HostState::Down, HostState::Unknown})
                        labels[i++] = {state,
                                       std::string("state=\"") + states::MetricLabel(state) + '"'};
                    return labels;
                }();
                for (const auto& [state, label] : states)
                    sample(out, "netsonde_host_state", set, label, s.state == state ? 1 : 0);
                break;
            }
            default:
                break;
            }
        }
        if (FHost >= FHosts.size()) {
            FHost = 0;
            FHeaderDone = false;
            ++FFamily;
        }
    }
}

QByteArray RenderMetrics(const std::vector<HostSeries>& hosts,
                         const std::vector<std::pair<QString, QString>>& labels,
                         const ProbeFigures& figures, bool openMetrics) {
    std::vector<HostSnapshot> frozen;
    frozen.reserve(hosts.size());
    for (const HostSeries& h : hosts)
        frozen.push_back({h.host, h.ip, h.ipVersion, *h.stats});
    MetricsWriter writer(std::move(frozen), labels, figures, openMetrics);
    QByteArray text;
    while (writer.Next(text, 1 << 20)) {
    }
    return text;
}

} // namespace probe
