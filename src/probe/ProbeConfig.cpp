#include "probe/ProbeConfig.h"

#include "files/AddressListFile.h"
#include "files/SessionFile.h"
#include "platform/ProbeEntry.h"

#include <QCommandLineParser>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace probe {

namespace {

constexpr qint64 MaxConfigBytes = 1 << 20;

// "1", "0.5", "250ms", "2s", "5m": a duration in milliseconds within
// [minMs, maxMs]; -1 when the text is none of these.
int parseDuration(QString text, int minMs, int maxMs) {
    text = text.trimmed();
    double factor = 1000;
    if (text.endsWith(QLatin1String("ms"))) {
        factor = 1;
        text.chop(2);
    } else if (text.endsWith(QLatin1Char('s'))) {
        text.chop(1);
    } else if (text.endsWith(QLatin1Char('m'))) {
        factor = 60'000;
        text.chop(1);
    }
    bool ok = false;
    double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return -1;
    double ms = std::round(value * factor);
    if (ms < minMs || ms > maxMs)
        return -1;
    return static_cast<int>(ms);
}

bool parseInt(const QString& text, int min, int max, int& out) {
    bool ok = false;
    int value = text.trimmed().toInt(&ok);
    if (!ok || value < min || value > max)
        return false;
    out = value;
    return true;
}

// The ranges of a path watch's settings (paths::PathWatch's own).
constexpr int MinPathIntervalMs = 200;
constexpr int MaxPathIntervalMs = 60'000;
constexpr int MinPathTimeoutMs = 50;
constexpr int MaxPathTimeoutMs = 60'000;
constexpr int MaxPathTtl = 64;

const QString PathIntervalRange = QStringLiteral("expected seconds from 0.2 to 60");
const QString PathTimeoutRange = QStringLiteral("expected seconds from 0.05 to 60");
const QString PathTtlRange = QStringLiteral("expected 1 to 64");

// One setting by its long name; false with error set when the value is bad.
bool applySetting(const QString& name, const QString& value, ProbeConfig& config, QString& error) {
    auto bad = [&](const QString& what) {
        error = QStringLiteral("invalid %1 \"%2\": %3").arg(name, value, what);
        return false;
    };
    if (name == QLatin1String("interval")) {
        int ms = parseDuration(value, 10, 3'600'000);
        if (ms < 0)
            return bad(QStringLiteral("expected seconds from 0.01 to 3600"));
        config.intervalMs = ms;
    } else if (name == QLatin1String("timeout")) {
        int ms = parseDuration(value, 1, 60'000);
        if (ms < 0)
            return bad(QStringLiteral("expected seconds from 0.001 to 60"));
        config.timeoutMs = ms;
    } else if (name == QLatin1String("resolve-every")) {
        int ms = parseDuration(value, 1000, 86'400'000);
        if (ms < 0)
            return bad(QStringLiteral("expected seconds from 1 to 86400"));
        config.resolveEveryMs = ms;
    } else if (name == QLatin1String("down-after")) {
        if (!parseInt(value, 1, 1000, config.downAfter))
            return bad(QStringLiteral("expected requests from 1 to 1000"));
    } else if (name == QLatin1String("up-after")) {
        if (!parseInt(value, 1, 1000, config.upAfter))
            return bad(QStringLiteral("expected requests from 1 to 1000"));
    } else if (name == QLatin1String("rtt-limit")) {
        int ms = parseDuration(value, 0, 60'000);
        if (ms < 0)
            return bad(QStringLiteral("expected seconds from 0 (off) to 60"));
        config.rttLimitMs = ms;
    } else if (name == QLatin1String("baseline-factor")) {
        if (!parseInt(value, 0, 1000, config.baselineFactor) || config.baselineFactor == 1)
            return bad(QStringLiteral("expected 0 (off) or 2 to 1000"));
    } else if (name == QLatin1String("loss-window")) {
        if (!parseInt(value, 1, 10'000, config.lossWindow))
            return bad(QStringLiteral("expected requests from 1 to 10000"));
    } else if (name == QLatin1String("loss-percent")) {
        if (!parseInt(value, 0, 100, config.lossPercent))
            return bad(QStringLiteral("expected 0 (off) to 100"));
    } else if (name == QLatin1String("size")) {
        if (!parseInt(value, 0, 65000, config.packetSize))
            return bad(QStringLiteral("expected bytes from 0 to 65000"));
    } else if (name == QLatin1String("ttl")) {
        if (!parseInt(value, 1, 255, config.ttl))
            return bad(QStringLiteral("expected 1 to 255"));
    } else if (name == QLatin1String("listen")) {
        if (!ParseListen(value, config.listenAddress, config.listenPort))
            return bad(QStringLiteral("expected ADDRESS:PORT"));
    } else if (name == QLatin1String("label")) {
        qsizetype eq = value.indexOf(QLatin1Char('='));
        QString key = value.left(eq).trimmed();
        if (eq < 0 || !ValidLabelName(key))
            return bad(QStringLiteral("expected NAME=VALUE with a name of letters, digits and "
                                      "'_' (not host, ip, ip_version, probe or port)"));
        QString labelValue = value.mid(eq + 1);
        for (auto& label : config.labels)
            if (label.first == key) {
                label.second = labelValue;
                return true;
            }
        config.labels.emplace_back(key, labelValue);
    } else if (name == QLatin1String("family")) {
        QString v = value.trimmed();
        if (v == QLatin1String("4") || v == QLatin1String("ipv4"))
            config.family = 4;
        else if (v == QLatin1String("6") || v == QLatin1String("ipv6"))
            config.family = 6;
        else if (v == QLatin1String("any") || v.isEmpty())
            config.family = 0;
        else
            return bad(QStringLiteral("expected 4, 6 or any"));
    } else if (name == QLatin1String("path-interval")) {
        int ms = parseDuration(value, MinPathIntervalMs, MaxPathIntervalMs);
        if (ms < 0)
            return bad(PathIntervalRange);
        config.pathIntervalMs = ms;
    } else if (name == QLatin1String("path-timeout")) {
        int ms = parseDuration(value, MinPathTimeoutMs, MaxPathTimeoutMs);
        if (ms < 0)
            return bad(PathTimeoutRange);
        config.pathTimeoutMs = ms;
    } else if (name == QLatin1String("path-max-ttl")) {
        if (!parseInt(value, 1, MaxPathTtl, config.pathMaxTtl))
            return bad(PathTtlRange);
    } else if (name == QLatin1String("path")) {
        PathTarget path;
        QString why;
        if (!ParsePathTarget(value, path, why))
            return bad(why);
        for (const PathTarget& known : config.paths)
            if (known.host == path.host)
                return true; // the first one of a host counts
        config.paths.push_back(path);
    } else if (name == QLatin1String("host")) {
        config.hosts << value.trimmed();
    } else if (name == QLatin1String("hosts")) {
        config.hostsFile = value.trimmed();
    } else if (name == QLatin1String("session")) {
        config.sessionFile = value.trimmed();
    } else {
        error = QStringLiteral("unknown setting \"%1\"").arg(name);
        return false;
    }
    return true;
}

const QStringList kValueOptions = {
    QStringLiteral("interval"),      QStringLiteral("timeout"),
    QStringLiteral("size"),          QStringLiteral("ttl"),
    QStringLiteral("listen"),        QStringLiteral("hosts"),
    QStringLiteral("session"),       QStringLiteral("resolve-every"),
    QStringLiteral("down-after"),    QStringLiteral("up-after"),
    QStringLiteral("rtt-limit"),     QStringLiteral("baseline-factor"),
    QStringLiteral("loss-window"),   QStringLiteral("loss-percent"),
    QStringLiteral("path-interval"), QStringLiteral("path-max-ttl"),
    QStringLiteral("path-timeout")};

} // namespace

bool ParsePathTarget(const QString& text, PathTarget& path, QString& error) {
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        error = QStringLiteral("expected HOST [interval=SECONDS] [max-ttl=N] [timeout=SECONDS]");
        return false;
    }
    path = PathTarget();
    path.host = words.front();
    if (path.host.contains(QLatin1Char('='))) {
        error = QStringLiteral("the host comes first, then NAME=VALUE settings");
        return false;
    }
    const std::optional<platform::ProbeEntry> target =
        platform::ParseProbeTarget(path.host, &error);
    if (!target)
        return false;
    path.host = platform::ProbeTargetText(*target);
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString& word = words[i];
        const qsizetype eq = word.indexOf(QLatin1Char('='));
        const QString key = word.left(eq);
        const QString value = word.mid(eq + 1);
        auto bad = [&](const QString& what) {
            error = QStringLiteral("%1: %2").arg(word, what);
            return false;
        };
        if (eq < 0)
            return bad(QStringLiteral("expected interval=, max-ttl= or timeout="));
        if (key == QLatin1String("interval")) {
            path.intervalMs = parseDuration(value, MinPathIntervalMs, MaxPathIntervalMs);
            if (path.intervalMs < 0)
                return bad(PathIntervalRange);
        } else if (key == QLatin1String("timeout")) {
            path.timeoutMs = parseDuration(value, MinPathTimeoutMs, MaxPathTimeoutMs);
            if (path.timeoutMs < 0)
                return bad(PathTimeoutRange);
        } else if (key == QLatin1String("max-ttl")) {
            if (!parseInt(value, 1, MaxPathTtl, path.maxTtl))
                return bad(PathTtlRange);
        } else {
            return bad(QStringLiteral("unknown path setting; expected interval, max-ttl or "
                                      "timeout"));
        }
    }
    return true;
}

PathTarget ProbeConfig::Effective(const PathTarget& path) const {
    PathTarget e = path;
    if (e.intervalMs == 0)
        e.intervalMs = pathIntervalMs;
    if (e.maxTtl == 0)
        e.maxTtl = pathMaxTtl;
    if (e.timeoutMs == 0)
        e.timeoutMs = pathTimeoutMs;
    return e;
}

bool ValidLabelName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[a-zA-Z_][a-zA-Z0-9_]*$"));
    return pattern.match(name).hasMatch() && !name.startsWith(QLatin1String("__")) &&
           name != QLatin1String("host") && name != QLatin1String("ip") &&
           name != QLatin1String("ip_version");
}

namespace {

// The labels the prober adds to the series of targets that name a port: a
// label of the same name given with --label would clash there only, so
// configurations without such targets keep theirs.
bool PortLabelsFree(const ProbeConfig& config, const QStringList& hosts, QString& error) {
    bool ports = false;
    auto namesAPort = [](const QString& text) {
        const std::optional<platform::ProbeEntry> target = platform::ParseProbeTarget(text);
        return target && target->kind != platform::ProbeKind::Icmp;
    };
    for (const QString& host : hosts)
        ports = ports || namesAPort(host);
    for (const PathTarget& path : config.paths)
        ports = ports || namesAPort(path.host);
    if (!ports)
        return true;
    for (const auto& [name, value] : config.labels)
        if (name == QLatin1String("probe") || name == QLatin1String("port")) {
            error = QStringLiteral("the label %1 is the one the prober gives targets that name a "
                                   "port: rename it")
                        .arg(name);
            return false;
        }
    return true;
}

} // namespace

bool ParseListen(const QString& text, QString& address, quint16& port) {
    QString t = text.trimmed();
    qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    QString host = t.left(colon);
    bool ok = false;
    uint p = t.mid(colon + 1).toUInt(&ok);
    if (!ok || p > 65535)
        return false;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return false; // an IPv6 address needs its brackets
    if (host.isEmpty())
        host = QStringLiteral("::");
    if (QHostAddress(host).isNull())
        return false;
    address = host;
    port = static_cast<quint16>(p);
    return true;
}

bool ApplyConfigText(const QByteArray& text, ProbeConfig& config,
                     const QStringList& fromCommandLine, QString& error) {
    int lineNumber = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++lineNumber;
        QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            error = QStringLiteral("line %1: expected \"name = value\"").arg(lineNumber);
            return false;
        }
        QString name = line.left(eq).trimmed();
        QString value = line.mid(eq + 1).trimmed();
        // A value given on the command line wins; labels merge by name with
        // the command line's applied last.
        if (fromCommandLine.contains(name) && name != QLatin1String("label") &&
            name != QLatin1String("host") && name != QLatin1String("path"))
            continue;
        QString why;
        if (!applySetting(name, value, config, why)) {
            error = QStringLiteral("line %1: %2").arg(lineNumber).arg(why);
            return false;
        }
    }
    return true;
}

ParseResult ParseCommandLine(const QStringList& arguments, ProbeConfig& config, QString& error,
                             QString* helpText) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends ICMP echo requests to every host on a steady schedule and serves "
                       "the results to Prometheus at /metrics."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Shows this help."));
    QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOptions({
        {QStringLiteral("config"), QStringLiteral("Reads settings from FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("hosts"), QStringLiteral("Probes the addresses of an address list file."),
         QStringLiteral("FILE")},
        {QStringLiteral("session"), QStringLiteral("Probes the hosts of a session file."),
         QStringLiteral("FILE")},
        {{QStringLiteral("i"), QStringLiteral("interval")},
         QStringLiteral("Time between two requests to a host (default 1)."),
         QStringLiteral("SECONDS")},
        {{QStringLiteral("t"), QStringLiteral("timeout")},
         QStringLiteral("Time to wait for an answer (default 1)."),
         QStringLiteral("SECONDS")},
        {{QStringLiteral("s"), QStringLiteral("size")},
         QStringLiteral("Data bytes per request (default 56)."),
         QStringLiteral("BYTES")},
        {QStringLiteral("ttl"), QStringLiteral("Time-to-live / hop limit (default 64)."),
         QStringLiteral("N")},
        {QStringLiteral("listen"),
         QStringLiteral("Serves metrics there (default 127.0.0.1:%1).").arg(DefaultPort),
         QStringLiteral("ADDRESS:PORT")},
        {QStringLiteral("web.enable-lifecycle"),
         QStringLiteral("Lets POST /-/reload reload the host list (SIGHUP always does).")},
        {QStringLiteral("web.config.file"),
         QStringLiteral("Serves metrics over TLS and/or to named users only, as set in FILE "
                        "(tls_server_config, basic_auth_users)."),
         QStringLiteral("FILE")},
        {QStringLiteral("label"), QStringLiteral("Adds a label to every series (repeatable)."),
         QStringLiteral("NAME=VALUE")},
        {QStringLiteral("resolve-every"),
         QStringLiteral("Looks names up again this often (default 300)."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("down-after"),
         QStringLiteral("Unanswered requests in a row that make a host down (default 3)."),
         QStringLiteral("N")},
        {QStringLiteral("up-after"),
         QStringLiteral("Answered requests in a row that bring it back (default 2)."),
         QStringLiteral("N")},
        {QStringLiteral("rtt-limit"),
         QStringLiteral("Degraded while answers take longer (default 0: off)."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("baseline-factor"),
         QStringLiteral("Degraded while answers take N times the host's usual (default 0: off)."),
         QStringLiteral("N")},
        {QStringLiteral("loss-window"),
         QStringLiteral("Requests over which loss is judged (default 20)."), QStringLiteral("N")},
        {QStringLiteral("loss-percent"),
         QStringLiteral("Degraded while more of them are lost (default 20; 0: off)."),
         QStringLiteral("PERCENT")},
        {QStringLiteral("path"),
         QStringLiteral("Watches the path to HOST hop by hop (repeatable); settings of its own "
                        "may follow: \"HOST interval=5 max-ttl=20 timeout=0.5\"."),
         QStringLiteral("HOST")},
        {QStringLiteral("path-interval"),
         QStringLiteral("Time between two rounds of a path (default 10)."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("path-max-ttl"),
         QStringLiteral("Highest TTL of a path's rounds (default 30)."), QStringLiteral("N")},
        {QStringLiteral("path-timeout"),
         QStringLiteral("Time to wait for an answer at a hop (default 1)."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("4"), QStringLiteral("Uses IPv4 addresses only.")},
        {QStringLiteral("6"), QStringLiteral("Uses IPv6 addresses only.")},
    });
    parser.addPositionalArgument(QStringLiteral("HOST"), QStringLiteral("Hosts to probe."),
                                 QStringLiteral("[HOST...]"));
    if (helpText)
        *helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help))
        return ParseResult::Help;
    if (parser.isSet(version))
        return ParseResult::Version;
    if (parser.isSet(QStringLiteral("4")) && parser.isSet(QStringLiteral("6"))) {
        error = QStringLiteral("-4 and -6 exclude each other");
        return ParseResult::Error;
    }

    QStringList given;
    for (const QString& name : kValueOptions)
        if (parser.isSet(name))
            given << name;
    if (parser.isSet(QStringLiteral("4")) || parser.isSet(QStringLiteral("6")))
        given << QStringLiteral("family");

    config = ProbeConfig();
    if (parser.isSet(QStringLiteral("config"))) {
        config.configFile = parser.value(QStringLiteral("config"));
        QFile file(config.configFile);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("%1: %2").arg(config.configFile, file.errorString());
            return ParseResult::Error;
        }
        QByteArray text = file.read(MaxConfigBytes + 1);
        if (text.size() > MaxConfigBytes) {
            error = QStringLiteral("%1: larger than 1 MiB").arg(config.configFile);
            return ParseResult::Error;
        }
        QString why;
        if (!ApplyConfigText(text, config, given, why)) {
            error = QStringLiteral("%1: %2").arg(config.configFile, why);
            return ParseResult::Error;
        }
    }
    for (const QString& name : given) {
        if (name == QLatin1String("family"))
            continue;
        if (!applySetting(name, parser.value(name), config, error))
            return ParseResult::Error;
    }
    config.enableLifecycle = parser.isSet(QStringLiteral("web.enable-lifecycle"));
    config.webConfigFile = parser.value(QStringLiteral("web.config.file"));
    for (const QString& label : parser.values(QStringLiteral("label")))
        if (!applySetting(QStringLiteral("label"), label, config, error))
            return ParseResult::Error;
    // The command line's paths come first, as its hosts do.
    std::vector<PathTarget> fromFile = std::move(config.paths);
    config.paths.clear();
    for (const QString& path : parser.values(QStringLiteral("path")))
        if (!applySetting(QStringLiteral("path"), path, config, error))
            return ParseResult::Error;
    for (const PathTarget& path : fromFile)
        if (std::none_of(config.paths.begin(), config.paths.end(),
                         [&](const PathTarget& p) { return p.host == path.host; }))
            config.paths.push_back(path);
    if (parser.isSet(QStringLiteral("4")))
        config.family = 4;
    else if (parser.isSet(QStringLiteral("6")))
        config.family = 6;
    config.hosts = parser.positionalArguments() + config.hosts;
    return ParseResult::Run;
}

bool CollectHosts(const ProbeConfig& config, QStringList& hosts, QString& error) {
    QStringList all = config.hosts;
    if (!config.hostsFile.isEmpty()) {
        QStringList entries;
        if (AddressListFile::Read(config.hostsFile, entries, error) != files::LoadStatus::Done) {
            if (error.isEmpty())
                error = QStringLiteral("%1: cannot be read").arg(config.hostsFile);
            return false;
        }
        all += entries;
    }
    if (!config.sessionFile.isEmpty()) {
        QList<files::SessionFile::Entry> entries;
        if (files::SessionFile::Read(config.sessionFile, entries, error) !=
            files::LoadStatus::Done) {
            if (error.isEmpty())
                error = QStringLiteral("%1: cannot be read").arg(config.sessionFile);
            return false;
        }
        for (const auto& entry : entries)
            all << entry.address;
    }
    QSet<QString> seen;
    hosts.clear();
    for (const QString& host : all) {
        QString h = host.trimmed();
        if (h.isEmpty())
            continue;
        // An entry that names a port is kept in the prober's own form, so
        // that "far:443" and "tcp://far:443" are one target.
        const std::optional<platform::ProbeEntry> target = platform::ParseProbeTarget(h, &error);
        if (!target)
            return false;
        h = platform::ProbeTargetText(*target);
        if (seen.contains(h))
            continue;
        seen.insert(h);
        hosts << h;
    }
    return PortLabelsFree(config, hosts, error);
}

} // namespace probe
