#include "probe/ProbeMetrics.h"

#include "platform/IcmpTypes.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
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

// The exposition is written straight into the QByteArray that is served:
// a copy of tens of megabytes per scrape costs more than the writing.
struct Text {
    QByteArray bytes;
    void reserve(std::size_t n) { bytes.reserve(static_cast<qsizetype>(n)); }
    void append(std::string_view v) { bytes.append(v.data(), static_cast<qsizetype>(v.size())); }
    void append(const char* first, const char* last) { bytes.append(first, last - first); }
    Text& operator+=(std::string_view v) {
        append(v);
        return *this;
    }
    Text& operator+=(const std::string& v) { return *this += std::string_view(v); }
    Text& operator+=(const char* v) { return *this += std::string_view(v); }
    Text& operator+=(char c) {
        bytes.append(c);
        return *this;
    }
};

template <class Out> void appendUnsigned(Out& out, std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The shortest text that reads back as value, in the style of the common
// Prometheus clients ("5e-05", "0.0001", "26.2144", "1e+06"): bucket bounds
// are label values, and dashboards and queries match them as text.
template <class Out> void appendDouble(Out& out, double value) {
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
void header(Text& out, const char* name, const char* type, const char* help, bool om) {
    std::string family = name;
    if (om && family.size() > 6 && family.compare(family.size() - 6, 6, "_total") == 0)
        family.resize(family.size() - 6);
    out += "# HELP ";
    out += family;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += family;
    out += ' ';
    out += type;
    out += '\n';
    if (om && std::string_view(name).ends_with("_seconds")) {
        out += "# UNIT ";
        out += family;
        out += " seconds\n";
    }
}

// name{labels[,extra]} value
void sample(Text& out, const char* name, const std::string& labels, std::string_view extra,
            std::uint64_t value) {
    out += name;
    out += '{';
    out += labels;
    if (!extra.empty()) {
        out += ',';
        out += extra;
    }
    out += "} ";
    appendUnsigned(out, value);
    out += '\n';
}

} // namespace

QByteArray RenderMetrics(const std::vector<HostSeries>& hosts,
                         const std::vector<std::pair<QString, QString>>& labels,
                         const ProbeFigures& figures, bool openMetrics) {
    std::string common;
    for (const auto& [name, value] : labels) {
        common += ',';
        common += name.toStdString();
        common += "=\"";
        common += EscapeLabelValue(value);
        common += '"';
    }
    // Every host's label set once: host, ip, ip_version, then the user's.
    std::vector<std::string> sets;
    sets.reserve(hosts.size());
    for (const HostSeries& h : hosts) {
        std::string s = "host=\"" + EscapeLabelValue(h.host) + "\",ip=\"" + EscapeLabelValue(h.ip) +
                        "\",ip_version=\"";
        if (h.ipVersion != 0)
            appendUnsigned(s, static_cast<std::uint64_t>(h.ipVersion));
        s += '"';
        s += common;
        sets.push_back(std::move(s));
    }
    // Room for every line at once: growing a buffer of tens of megabytes
    // copies it, and each copy touches fresh pages. A host has some 35 lines
    // of its label set, a name, an extra label and a value each.
    std::size_t room = 16384;
    for (std::size_t i = 0; i < hosts.size(); ++i)
        room += (36 + 2 * hosts[i].stats->unreachable.size()) * (sets[i].size() + 72);
    Text out;
    out.reserve(room);
    const bool om = openMetrics;

    header(out, "netsonde_requests_total", "counter", "Echo requests sent.", om);
    for (std::size_t i = 0; i < hosts.size(); ++i)
        sample(out, "netsonde_requests_total", sets[i], {}, hosts[i].stats->requests);

    header(out, "netsonde_answers_total", "counter", "Echo replies received.", om);
    for (std::size_t i = 0; i < hosts.size(); ++i)
        sample(out, "netsonde_answers_total", sets[i], {}, hosts[i].stats->answers);

    header(out, "netsonde_failures_total", "counter",
           "Echo requests without a reply, and failed name lookups, by kind.", om);
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const HostStats& s = *hosts[i].stats;
        sample(out, "netsonde_failures_total", sets[i], "kind=\"timeout\"", s.timeouts);
        for (const auto& [code, count] : s.unreachable)
            sample(out, "netsonde_failures_total", sets[i],
                   "kind=\"unreachable\",code=\"" + code + '"', count);
        sample(out, "netsonde_failures_total", sets[i], "kind=\"send_error\"", s.sendErrors);
        sample(out, "netsonde_failures_total", sets[i], "kind=\"name_error\"", s.nameErrors);
    }

    header(out, "netsonde_rtt_seconds", "histogram", "Round-trip time of answered requests.", om);
    const auto& bounds = RttBucketBounds();
    std::vector<std::string> les;
    for (double b : bounds) {
        std::string le = "le=\"";
        appendDouble(le, b);
        le += '"';
        les.push_back(std::move(le));
    }
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const HostStats& s = *hosts[i].stats;
        std::uint64_t cumulative = 0;
        for (std::size_t b = 0; b < bounds.size(); ++b) {
            cumulative += s.rttBuckets[b];
            sample(out, "netsonde_rtt_seconds_bucket", sets[i], les[b], cumulative);
        }
        cumulative += s.rttBuckets[bounds.size()];
        sample(out, "netsonde_rtt_seconds_bucket", sets[i], "le=\"+Inf\"", cumulative);
        out += "netsonde_rtt_seconds_sum{";
        out += sets[i];
        out += "} ";
        appendDouble(out, s.rttSum);
        out += '\n';
        sample(out, "netsonde_rtt_seconds_count", sets[i], {}, cumulative);
    }

    header(out, "netsonde_answer_ttl", "gauge",
           "Time-to-live (IPv4) or hop limit (IPv6) of the last reply.", om);
    for (std::size_t i = 0; i < hosts.size(); ++i)
        if (hosts[i].stats->lastTtl >= 0)
            sample(out, "netsonde_answer_ttl", sets[i], {},
                   static_cast<std::uint64_t>(hosts[i].stats->lastTtl));

    header(out, "netsonde_host_state", "gauge",
           "1 for the state the host is in, 0 for the others: up, degraded (slow or losing "
           "requests), down (not answering), unknown (too few requests yet).",
           om);
    static const std::pair<HostState, const char*> states[] = {
        {HostState::Up, "state=\"up\""},
        {HostState::Degraded, "state=\"degraded\""},
        {HostState::Down, "state=\"down\""},
        {HostState::Unknown, "state=\"unknown\""}};
    for (std::size_t i = 0; i < hosts.size(); ++i)
        for (const auto& [state, label] : states)
            sample(out, "netsonde_host_state", sets[i], label,
                   hosts[i].stats->state == state ? 1 : 0);

    std::string own = common.empty() ? std::string() : common.substr(1);
    auto single = [&](const char* name, const char* type, const char* help, std::uint64_t v) {
        header(out, name, type, help, om);
        out += name;
        if (!own.empty())
            out += '{' + own + '}';
        out += ' ';
        appendUnsigned(out, v);
        out += '\n';
    };
    single("netsonde_probe_hosts", "gauge", "Hosts probed.", figures.hosts);
    single("netsonde_probe_late_requests_total", "counter",
           "Requests sent more than one interval after their time.", figures.lateRequests);
    single("netsonde_probe_reloads_total", "counter", "Host list reloads.", figures.reloads);
    single("netsonde_probe_reload_failures_total", "counter",
           "Host list reloads that failed and kept the list.", figures.reloadFailures);
    if (om)
        out += "# EOF\n";
    return std::move(out.bytes);
}

} // namespace probe
