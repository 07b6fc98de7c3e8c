#include "probe/Prober.h"

#include "echo/TPingThread.h"
#include "paths/PortEchoSender.h"
#include "platform/NameService.h"

#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QtEndian>
#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

namespace probe {

namespace {

alerts::Limits limitsOf(const ProbeConfig& c) {
    alerts::Limits l;
    l.FailuresToDown = c.downAfter;
    l.AnswersToUp = c.upAfter;
    l.RttLimitMs = c.rttLimitMs;
    l.BaselineFactor = c.baselineFactor;
    l.LossWindow = c.lossWindow;
    l.LossPercent = c.lossPercent;
    return l;
}

// After a failed request a name is looked up again, but not more often
// than this (nor more often than the regular lookups).
constexpr std::chrono::seconds LookupAfterFailure{10};

// One lookup by the system's resolver. family 0 takes the system's choice
// (the engine's name service, as the desktop program does); 4 or 6 ask
// for that family only. Returns 0 with the address bytes (4 or 16), or
// the socket library's error code.
int lookUp(const QString& name, int family, int& foundFamily, QByteArray& address) {
    if (family == 0) {
        platform::HostRecord record;
        int error = platform::CurrentNameService()->ByName(name.toStdString(), record);
        if (error != 0)
            return error;
        if (!record.addresses.empty()) {
            foundFamily = 4;
            address = QByteArray(reinterpret_cast<const char*>(&record.addresses.front()), 4);
            return 0;
        }
        if (!record.addresses6.empty()) {
            foundFamily = 6;
            address =
                QByteArray(reinterpret_cast<const char*>(record.addresses6.front().data()), 16);
            return 0;
        }
        return 11004;
    }
    addrinfo hints{};
    hints.ai_family = family == 6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_RAW;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &result);
    if (rc != 0 || result == nullptr)
        return platform::SystemNameService::AddrInfoErrorCode(rc == 0 ? EAI_NONAME : rc);
    if (result->ai_family == AF_INET6) {
        foundFamily = 6;
        auto* sa = reinterpret_cast<const sockaddr_in6*>(result->ai_addr);
        address = QByteArray(reinterpret_cast<const char*>(&sa->sin6_addr), 16);
    } else {
        foundFamily = 4;
        auto* sa = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
        address = QByteArray(reinterpret_cast<const char*>(&sa->sin_addr), 4);
    }
    ::freeaddrinfo(result);
    return 0;
}

QString addressText(int family, const QByteArray& bytes) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family == 6 ? AF_INET6 : AF_INET, bytes.constData(), text, sizeof text);
    return QString::fromLatin1(text);
}

// Paths send on the prober's own engine, beside the hosts' requests.
class EngineSender : public paths::EchoSender {
public:
    explicit EngineSender(platform::AsyncEcho& engine) : FEngine(engine) {}
    void Send(const Target& target, const Options& options, Done done) override {
        FEngine.Send(target, options, std::move(done));
    }

private:
    platform::AsyncEcho& FEngine;
};

// How often paths without an address, or due for a new lookup, are looked at.
constexpr std::chrono::seconds PathLookupCheck{1};

} // namespace

struct Prober::Path {
    std::uint64_t id = 0;
    PathTarget settings;        // with the defaults filled in
    platform::ProbeEntry probe; // the host to look up, and the kind of probe
    bool literal = false;
    int family = 0;
    QByteArray address; // 4 or 16 bytes; empty while none
    QString ip;
    std::uint32_t scopeId = 0;
    bool lookupRunning = false;
    Clock::time_point lastLookup{};
    std::uint64_t nameErrors = 0;
    std::unique_ptr<paths::PathWatch> watch;
    PathSeries series;
};

struct Prober::Host {
    std::uint64_t id = 0;
    QString name;
    platform::ProbeEntry probe; // the host to look up, and the kind of probe
    bool portInFlight = false;
    bool literal = false; // an address: never looked up
    int family = 0;       // of the address; 0 while none
    QByteArray address;   // 4 or 16 bytes in network order
    QString ip;
    std::uint32_t scopeId = 0;
    bool lookupRunning = false;
    Clock::time_point lastLookup{};
    HostStats stats;
};

struct Prober::Request {
    std::uint64_t hostId = 0;
    QByteArray address; // the address the request went to
    Clock::time_point sent;
    int status = 0;
    TEchoReply reply;
    TEcho6Reply reply6;
};

Prober::Prober(const ProbeConfig& config, QObject* parent)
    : QObject(parent), FConfig(config), FStates(limitsOf(config)),
      FAlive(std::make_shared<Prober*>(this)) {
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &Prober::Tick);
    FLookups.setMaxThreadCount(8);
    FPathSender = std::make_shared<EngineSender>(FEcho);
    FClock = [] { return Clock::now(); };
    FPathTimer.setInterval(std::chrono::milliseconds(PathLookupCheck));
    connect(&FPathTimer, &QTimer::timeout, this, &Prober::PathTick);
}

Prober::~Prober() {
    *FAlive = nullptr;
    FTimer.stop();
    FLookups.waitForDone();
}

void Prober::SetConfig(const ProbeConfig& config) {
    FConfig = config;
    FStates.SetLimits(limitsOf(config));
}

void Prober::Judge(Host& h, std::optional<int> echoMs) {
    alerts::Run run;
    run.TimeMs = QDateTime::currentMSecsSinceEpoch();
    if (echoMs)
        run.Echoes.append(*echoMs);
    FStates.Feed(h.name, run);
    h.stats.state = FStates.State(h.name);
}

void Prober::SetHosts(const QStringList& names) {
    std::unordered_map<QString, std::uint64_t> byName;
    for (const auto& [id, h] : FHosts)
        byName.emplace(h->name, id);
    std::vector<std::uint64_t> order;
    std::vector<std::uint64_t> added;
    std::unordered_map<std::uint64_t, std::unique_ptr<Host>> hosts;
    for (const QString& name : names) {
        auto found = byName.find(name);
        if (found != byName.end()) {
            if (hosts.count(found->second))
                continue;
            hosts.emplace(found->second, std::move(FHosts[found->second]));
            order.push_back(found->second);
            continue;
        }
        auto h = std::make_unique<Host>();
        h->id = FNextId++;
        h->name = name;
        h->probe = platform::ParseProbeTarget(name).value_or(
            platform::ProbeEntry{platform::ProbeKind::Icmp, name, 0});
        QString literal = h->probe.host;
        if (literal.startsWith(QLatin1Char('[')) && literal.endsWith(QLatin1Char(']')))
            literal = literal.mid(1, literal.size() - 2);
        QHostAddress parsed;
        if (parsed.setAddress(literal)) {
            h->literal = true;
            if (parsed.protocol() == QAbstractSocket::IPv4Protocol) {
                quint32 v4 = qToBigEndian(parsed.toIPv4Address());
                h->family = 4;
                h->address = QByteArray(reinterpret_cast<const char*>(&v4), 4);
            } else {
                Q_IPV6ADDR v6 = parsed.toIPv6Address();
                h->family = 6;
                h->address = QByteArray(reinterpret_cast<const char*>(v6.c), 16);
                h->scopeId = parsed.scopeId().isEmpty() ? 0 : parsed.scopeId().toUInt();
                if (!parsed.scopeId().isEmpty() && h->scopeId == 0)
                    h->scopeId = ::if_nametoindex(parsed.scopeId().toLatin1().constData());
            }
            h->ip = addressText(h->family, h->address);
        }
        added.push_back(h->id);
        order.push_back(h->id);
        hosts.emplace(h->id, std::move(h));
    }
    FHosts = std::move(hosts);
    FOrder = std::move(order);
    FStates.Retain(names);
    FFigures.hosts = FOrder.size();
    // New hosts start spread over the next interval; the queue forgets the
    // hosts that left when their turn comes.
    Clock::time_point now = Clock::now();
    auto interval = std::chrono::milliseconds(FConfig.intervalMs);
    for (std::size_t i = 0; i < added.size(); ++i)
        FQueue.emplace(now + interval * static_cast<std::int64_t>(i) /
                                 static_cast<std::int64_t>(added.size()),
                       added[i]);
    Arm();
}

void Prober::Stop() {
    FTimer.stop();
    FQueue = {};
    FPathTimer.stop();
    for (const auto& p : FPaths)
        if (p->watch)
            p->watch->Pause();
}

void Prober::Arm() {
    if (FQueue.empty()) {
        FTimer.stop();
        return;
    }
    auto wait = FQueue.top().first - Clock::now();
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    FTimer.start(static_cast<int>(std::clamp<std::int64_t>(ms, 0, 1 << 30)));
}

void Prober::Tick() {
    Clock::time_point now = Clock::now();
    auto interval = std::chrono::milliseconds(FConfig.intervalMs);
    while (!FQueue.empty() && FQueue.top().first <= now) {
        auto [due, id] = FQueue.top();
        FQueue.pop();
        auto found = FHosts.find(id);
        if (found == FHosts.end())
            continue; // left with a reload
        auto delay = now - due;
        FWorstDelay = std::max(FWorstDelay, delay);
        Clock::time_point next = due + interval;
        if (delay > interval) {
            ++FFigures.lateRequests;
            // Far behind: the host's turns from now on keep its phase
            // instead of catching up with a burst.
            next += interval * ((now - next) / interval + 1);
        }
        FQueue.emplace(next, id);
        Probe(*found->second, now);
    }
    Arm();
}

void Prober::Probe(Host& h, Clock::time_point now) {
    if (!h.literal) {
        bool stale = now - h.lastLookup >= std::chrono::milliseconds(FConfig.resolveEveryMs);
        if ((h.address.isEmpty() || stale) && !h.lookupRunning)
            StartLookup(h, now);
        if (h.address.isEmpty())
            return; // the lookup's result counts, not a request
    }
    if ((FConfig.family == 4 && h.family != 4) || (FConfig.family == 6 && h.family != 6)) {
        // An address of the other family than the one asked for.
        ++h.stats.nameErrors;
        Judge(h, std::nullopt);
        return;
    }
    std::uint16_t timeout = static_cast<std::uint16_t>(std::min(FConfig.timeoutMs, 65535));
    if (h.probe.kind != platform::ProbeKind::Icmp) {
        ProbePort(h, timeout);
        return;
    }
    ++h.stats.requests;
    ++FInFlight;
    if (FEcho.RouteFor(h.family) != platform::AsyncEcho::Route::None) {
        platform::AsyncEcho::Target target;
        target.family = h.family;
        std::memcpy(target.address.data(), h.address.constData(),
                    static_cast<std::size_t>(h.address.size()));
        target.scopeId = h.scopeId;
        platform::AsyncEcho::Options options;
        options.ttl = static_cast<std::uint8_t>(FConfig.ttl);
        options.dataSize = static_cast<std::uint16_t>(FConfig.packetSize);
        options.timeoutMs = timeout;
        // The engine calls back on this thread and never after the prober,
        // which owns it, is gone.
        FEcho.Send(target, options,
                   [this, id = h.id, address = h.address](const platform::AsyncEcho::Outcome& o) {
                       Ended(id, address, static_cast<int>(o.status), o.received - o.sent, o.ttl);
                   });
        return;
    }
    auto r = std::make_shared<Request>();
    r->hostId = h.id;
    r->address = h.address;
    TIpOptions options;
    options.Ttl = static_cast<std::uint8_t>(FConfig.ttl);
    std::shared_ptr<TPingThread> thread;
    if (h.family == 6) {
        TIpv6Address a6;
        std::memcpy(a6.Bytes, h.address.constData(), 16);
        a6.ScopeId = h.scopeId;
        thread = TPingThread::Create6(r->status, options, a6, FConfig.packetSize, timeout, r->reply,
                                      r->reply6);
    } else {
        std::uint32_t a4 = 0;
        std::memcpy(&a4, h.address.constData(), 4);
        thread = TPingThread::Create(r->status, options, a4, FConfig.packetSize, timeout, r->reply);
    }
    thread->OnTerminate = [alive = std::weak_ptr<Prober*>(FAlive), r] {
        if (auto p = alive.lock(); p && *p)
            (*p)->EchoEnded(r);
    };
    r->sent = Clock::now();
    thread->Start();
}

void Prober::ProbePort(Host& h, std::uint16_t timeout) {
    if (h.portInFlight)
        return; // one probe per target: this turn is left out
    ++h.stats.requests;
    ++FInFlight;
    h.portInFlight = true;
    platform::PortProbes::Target target;
    target.family = h.family;
    std::memcpy(target.address.data(), h.address.constData(),
                static_cast<std::size_t>(h.address.size()));
    target.scopeId = h.scopeId;
    target.kind = h.probe.kind;
    target.port = h.probe.port;
    FPorts.Send(target, {static_cast<std::uint8_t>(FConfig.ttl), timeout},
                [this, id = h.id, address = h.address](const platform::PortProbes::Outcome& o) {
                    if (auto found = FHosts.find(id); found != FHosts.end())
                        found->second->portInFlight = false;
                    // No time-to-live comes with a port's answer.
                    Ended(id, address, static_cast<int>(o.status),
                          std::chrono::microseconds(o.roundTripUs), -1);
                });
}

void Prober::EchoEnded(const std::shared_ptr<Request>& r) {
    int status = r->status == 0 ? static_cast<int>(r->reply.Status) : r->status;
    int ttl = r->reply.Options.Ttl;
    Ended(r->hostId, r->address, status, Clock::now() - r->sent, ttl);
}

void Prober::Ended(std::uint64_t hostId, const QByteArray& address, int status,
                   Clock::duration roundTrip, int ttl) {
    Clock::time_point ended = Clock::now();
    --FInFlight;
    auto found = FHosts.find(hostId);
    if (found == FHosts.end())
        return;
    Host& h = *found->second;
    // An answer for an address the host no longer has belongs to a series
    // that was started over.
    if (address != h.address)
        return;
    std::string code;
    Outcome outcome = ClassifyStatus(status, code);
    if (outcome == Outcome::Answer) {
        h.stats.AddAnswer(std::chrono::duration<double>(roundTrip).count(), ttl);
        Judge(h,
              static_cast<int>(std::chrono::round<std::chrono::milliseconds>(roundTrip).count()));
        return;
    }
    h.stats.AddFailure(outcome, code);
    Judge(h, -1);
    if (!h.literal && !h.lookupRunning &&
        ended - h.lastLookup >=
            std::min<Clock::duration>(LookupAfterFailure,
                                      std::chrono::milliseconds(FConfig.resolveEveryMs)))
        StartLookup(h, ended);
}

void Prober::StartLookup(Host& h, Clock::time_point now) {
    h.lookupRunning = true;
    h.lastLookup = now;
    Resolve(h.probe.host, [this, id = h.id](int error, int family, const QByteArray& address) {
        LookupEnded(id, error, family, address);
    });
}

void Prober::Resolve(const QString& name,
                     std::function<void(int error, int family, const QByteArray& address)> done) {
    QPointer<Prober> self(this);
    FLookups.start([self, name, family = FConfig.family, done = std::move(done)] {
        int found = 0;
        QByteArray address;
        int error = lookUp(name, family, found, address);
        if (self)
            QMetaObject::invokeMethod(
                self,
                [self, done, error, found, address] {
                    if (self)
                        done(error, found, address);
                },
                Qt::QueuedConnection);
    });
}

void Prober::LookupEnded(std::uint64_t id, int error, int family, const QByteArray& address) {
    auto found = FHosts.find(id);
    if (found == FHosts.end())
        return;
    Host& h = *found->second;
    h.lookupRunning = false;
    if (error != 0) {
        // The last known address, if any, stays in use until a lookup
        // finds another one.
        ++h.stats.nameErrors;
        if (h.address.isEmpty())
            Judge(h, std::nullopt);
        return;
    }
    if (address == h.address)
        return;
    // Another address is another series: its counters start over.
    h.family = family;
    h.address = address;
    h.ip = addressText(family, address);
    std::uint64_t nameErrors = h.stats.nameErrors;
    h.stats = HostStats();
    h.stats.nameErrors = nameErrors;
    h.stats.state = FStates.State(h.name);
}

QByteArray Prober::Metrics(bool openMetrics) const {
    MetricsWriter writer = Writer(openMetrics);
    QByteArray text;
    while (writer.Next(text, 1 << 20)) {
    }
    return text;
}

MetricsWriter Prober::Writer(bool openMetrics) const {
    std::vector<HostSnapshot> frozen;
    frozen.reserve(FOrder.size());
    for (std::uint64_t id : FOrder) {
        const Host& h = *FHosts.at(id);
        frozen.push_back({h.probe.kind == platform::ProbeKind::Icmp ? h.name : h.probe.host, h.ip,
                          h.family, h.stats, h.probe.kind, h.probe.port});
    }
    std::vector<PathSnapshot> paths;
    paths.reserve(FPaths.size());
    for (std::size_t i = 0; i < FPaths.size(); ++i) {
        const Path& path = *FPaths[i];
        PathView p = ViewOf(path, FClock());
        const bool port = path.probe.kind != platform::ProbeKind::Icmp;
        paths.push_back({port ? path.probe.host : p.host, p.ip, p.ipVersion, std::move(p.stats),
                         path.probe.kind, path.probe.port});
    }
    return MetricsWriter(std::move(frozen), FConfig.labels, FFigures, openMetrics,
                         std::move(paths));
}

void Prober::SetPaths(const std::vector<PathTarget>& targets) {
    std::vector<std::unique_ptr<Path>> paths;
    const Clock::time_point now = Clock::now();
    for (const PathTarget& target : targets) {
        const PathTarget settings = FConfig.Effective(target);
        auto found = std::find_if(FPaths.begin(), FPaths.end(), [&](const auto& p) {
            return p && p->settings.host == settings.host;
        });
        if (found != FPaths.end()) {
            std::unique_ptr<Path> p = std::move(*found);
            p->settings = settings;
            if (p->watch) {
                p->watch->SetMaxTtl(settings.maxTtl);
                p->watch->SetTimeoutMs(settings.timeoutMs);
                p->watch->SetIntervalMs(settings.intervalMs);
            }
            paths.push_back(std::move(p));
            continue;
        }
        auto p = std::make_unique<Path>();
        p->id = FNextId++;
        p->settings = settings;
        p->probe = platform::ParseProbeTarget(settings.host)
                       .value_or(platform::ProbeEntry{platform::ProbeKind::Icmp, settings.host, 0});
        if (const auto literal = paths::ParseTarget(p->probe.host);
            literal && (FConfig.family == 0 || FConfig.family == literal->family)) {
            p->literal = true;
            p->family = literal->family;
            p->address = QByteArray(reinterpret_cast<const char*>(literal->address.data()),
                                    literal->family == 6 ? 16 : 4);
            p->scopeId = literal->scopeId;
            p->ip = addressText(p->family, p->address);
            Watch(*p);
        } else {
            StartPathLookup(*p, now);
        }
        paths.push_back(std::move(p));
    }
    // Paths that left go with their watches here, outside any of their signals.
    FPaths = std::move(paths);
    if (FPaths.empty())
        FPathTimer.stop();
    else if (!FPathTimer.isActive())
        FPathTimer.start();
}

void Prober::Watch(Path& p) {
    platform::AsyncEcho::Target target;
    target.family = p.family;
    std::memcpy(target.address.data(), p.address.constData(),
                static_cast<std::size_t>(p.address.size()));
    target.scopeId = p.scopeId;
    p.series = PathSeries();
    // A port's path has a sender of its own: its rule of one probe that
    // may reach the target holds per path.
    p.watch =
        p.probe.kind == platform::ProbeKind::Icmp
            ? std::make_unique<paths::PathWatch>(target, FPathSender)
            : std::make_unique<paths::PathWatch>(
                  target, std::make_shared<paths::PortEchoSender>(p.probe.kind, p.probe.port));
    p.watch->SetMaxTtl(p.settings.maxTtl);
    p.watch->SetTimeoutMs(p.settings.timeoutMs);
    p.watch->SetIntervalMs(p.settings.intervalMs);
    paths::PathWatch* watch = p.watch.get();
    Path* path = &p;
    connect(watch, &paths::PathWatch::RoundEnded, this, [this, path, watch] {
        path->series.RoundEnded(watch->Figures(), FClock(), FResponderExpiry);
    });
    connect(watch, &paths::PathWatch::RouteChanged, this,
            [path](const paths::RouteChange& change) { path->series.RouteChanged(change); });
    watch->Start();
}

void Prober::PathTick() {
    const Clock::time_point now = Clock::now();
    for (const auto& p : FPaths) {
        if (p->literal || p->lookupRunning)
            continue;
        const auto every = p->address.isEmpty() ? std::chrono::milliseconds(p->settings.intervalMs)
                                                : std::chrono::milliseconds(FConfig.resolveEveryMs);
        if (now - p->lastLookup >= every)
            StartPathLookup(*p, now);
    }
}

void Prober::StartPathLookup(Path& p, Clock::time_point now) {
    p.lookupRunning = true;
    p.lastLookup = now;
    Resolve(p.probe.host, [this, id = p.id](int error, int family, const QByteArray& address) {
        PathLookupEnded(id, error, family, address);
    });
}

void Prober::PathLookupEnded(std::uint64_t id, int error, int family, const QByteArray& address) {
    auto found =
        std::find_if(FPaths.begin(), FPaths.end(), [id](const auto& p) { return p->id == id; });
    if (found == FPaths.end())
        return;
    Path& p = **found;
    p.lookupRunning = false;
    if (error != 0) {
        // As for a host: the last known address stays in use.
        ++p.nameErrors;
        return;
    }
    if (address == p.address)
        return;
    // Another address is another path: a new watch, its series from zero.
    p.watch.reset();
    p.family = family;
    p.address = address;
    p.ip = addressText(family, address);
    p.scopeId = 0;
    Watch(p);
}

std::vector<Prober::PathView> Prober::Paths() const {
    std::vector<PathView> out;
    const Clock::time_point now = FClock();
    for (const auto& p : FPaths)
        out.push_back(ViewOf(*p, now));
    return out;
}

Prober::PathView Prober::ViewOf(const Path& p, Clock::time_point now) const {
    PathView view{p.settings.host, p.ip, p.address.isEmpty() ? 0 : p.family,
                  p.series.Stats(now, FResponderExpiry)};
    view.stats.nameErrors = p.nameErrors;
    return view;
}

void Prober::SetPathSenderForTests(std::shared_ptr<paths::EchoSender> sender) {
    FPathSender = std::move(sender);
}

void Prober::SetClockForTests(std::function<Clock::time_point()> clock) {
    FClock = std::move(clock);
}

paths::PathWatch* Prober::PathWatchForTests(const QString& host) const {
    for (const auto& p : FPaths)
        if (p->settings.host == host)
            return p->watch.get();
    return nullptr;
}

std::vector<Prober::HostView> Prober::Hosts() const {
    std::vector<HostView> out;
    for (std::uint64_t id : FOrder) {
        const Host& h = *FHosts.at(id);
        out.push_back({h.name, h.ip, h.stats});
    }
    return out;
}

} // namespace probe
