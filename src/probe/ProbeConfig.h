#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// The prober's settings: options of the command line over those of an
// optional config file over the defaults. The config file holds the long
// option names as "name = value" lines ('#' starts a comment); "host",
// "path" and "label" may repeat.
namespace probe {

inline constexpr quint16 DefaultPort = 9655;

// A path watched hop by hop: "HOST [interval=SECONDS] [max-ttl=N]
// [timeout=SECONDS]", each setting given there over the paths' defaults
// (0 here: the default).
struct PathTarget {
    QString host;
    int intervalMs = 0; // between two rounds
    int maxTtl = 0;
    int timeoutMs = 0;
    bool operator==(const PathTarget&) const = default;
};

struct ProbeConfig {
    QStringList hosts;     // from the arguments and "host" lines
    QString hostsFile;     // address list file
    QString sessionFile;   // session file: its section names
    QString configFile;    // where the settings below came from, if any
    int intervalMs = 1000; // per host
    int timeoutMs = 1000;
    int packetSize = 56; // data bytes
    int ttl = 64;
    int family = 0; // 0: the system's choice, 4 or 6
    int resolveEveryMs = 300'000;
    QString listenAddress = QStringLiteral("127.0.0.1");
    quint16 listenPort = DefaultPort;
    // POST /-/reload is taken only when asked for; SIGHUP always is.
    bool enableLifecycle = false;
    // TLS and users of the endpoint (the exporters' web config file).
    QString webConfigFile;
    // When a host's state (netsonde_host_state) changes: consecutive
    // requests without an answer that make it down, answered ones that bring
    // it back up; degraded while an answer is slower than rttLimitMs (0:
    // off) or than baselineFactor times the median of its recent answers
    // (0: off), or while more than lossPercent of its last lossWindow
    // requests went unanswered.
    int downAfter = 3;
    int upAfter = 2;
    int rttLimitMs = 0;
    int baselineFactor = 0;
    int lossWindow = 20;
    int lossPercent = 20;
    // Paths from "--path" and "path" lines, in that order, repeats dropped;
    // the defaults of their settings.
    std::vector<PathTarget> paths;
    int pathIntervalMs = 10'000;
    int pathMaxTtl = 30;
    int pathTimeoutMs = 1000;
    // A path's settings with the defaults filled in.
    PathTarget Effective(const PathTarget& path) const;
    // Added to every series, in this order; names checked.
    std::vector<std::pair<QString, QString>> labels;
};

// What ParseCommandLine decided.
enum class ParseResult { Run, Help, Version, Error };

// Parses arguments (the program name first) and, when one is named, the
// config file. On Error, error holds one line for the user.
ParseResult ParseCommandLine(const QStringList& arguments, ProbeConfig& config, QString& error,
                             QString* helpText = nullptr);

// Applies "name = value" lines of a config file to config; the lines of
// the command line win where both set a value (given in fromCommandLine).
bool ApplyConfigText(const QByteArray& text, ProbeConfig& config,
                     const QStringList& fromCommandLine, QString& error);

// The hosts to probe: config.hosts, then the address list file's and the
// session file's entries; trimmed, empty and repeated entries dropped.
bool CollectHosts(const ProbeConfig& config, QStringList& hosts, QString& error);

// Reads the value of a "path" setting; false with error set when it is bad.
bool ParsePathTarget(const QString& text, PathTarget& path, QString& error);

// A label name Prometheus accepts that the prober does not set itself.
bool ValidLabelName(const QString& name);

// "ADDRESS:PORT", "[v6]:PORT", or ":PORT" (all addresses); port 0 takes any
// free port (the start line names it).
bool ParseListen(const QString& text, QString& address, quint16& port);

} // namespace probe
