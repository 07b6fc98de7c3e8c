#include "paths/PathWatch.h"

#include "platform/IcmpTypes.h"
#include "platform/NameService.h"

#include <QDateTime>
#include <QThreadPool>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

namespace paths {

namespace {

constexpr qint64 MinuteMs = 60000;
constexpr int LookupThreads = 4;
constexpr double Percent = 100;

// Reverse lookups of every watch, off the watches' thread; a slow resolver
// holds up names only, never a round.
QThreadPool& LookupPool() {
    static QThreadPool pool;
    static const bool sized = (pool.setMaxThreadCount(LookupThreads), true);
    (void)sized;
    return pool;
}

bool LinkLocal(const Address& a) {
    return a.family == 6 && a.bytes[0] == 0xfe && (a.bytes[1] & 0xc0) == 0x80;
}

double PercentOf(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0 : Percent * static_cast<double>(part) / static_cast<double>(whole);
}

} // namespace

// Tells the echo completions and the lookup workers whether the watch still
// exists. Workers read it under the mutex, which the destructor takes to
// clear it, so a worker that finds the watch posts to it before it can go;
// a posted call whose receiver was destroyed is dropped by Qt.
struct PathWatch::Alive {
    std::mutex mutex;
    PathWatch* watch = nullptr;
};

PathWatch::PathWatch(const Target& target, QObject* parent)
    : PathWatch(target, std::make_shared<AsyncEchoSender>(), parent) {}

PathWatch::PathWatch(const Target& target, std::shared_ptr<EchoSender> sender, QObject* parent)
    : QObject(parent), FTarget(target), FTargetAddress(AddressOf(target)),
      FSender(std::move(sender)), FAlive(std::make_shared<Alive>()),
      FWallClock([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    FAlive->watch = this;
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(FIntervalMs);
    connect(&FTimer, &QTimer::timeout, this, &PathWatch::RunRound);
}

PathWatch::~PathWatch() {
    std::lock_guard lock(FAlive->mutex);
    FAlive->watch = nullptr;
}

void PathWatch::SetMaxTtl(int ttl) {
    FMaxTtl = std::clamp(ttl, 1, MaxTtlLimit);
    if (FDistance > FMaxTtl)
        FDistance = 0;
}

void PathWatch::SetTimeoutMs(int ms) {
    FTimeoutMs = std::clamp(ms, MinTimeoutMs, MaxTimeoutMs);
}

void PathWatch::SetIntervalMs(int ms) {
    FIntervalMs = std::clamp(ms, MinIntervalMs, MaxIntervalMs);
    FTimer.setInterval(FIntervalMs);
}

void PathWatch::SetChangeRounds(int rounds) {
    FTracker.SetChangeRounds(rounds);
}

void PathWatch::SetWallClockForTests(std::function<qint64()> clock) {
    FWallClock = std::move(clock);
}

void PathWatch::Start() {
    FTimer.start();
    RunRound();
}

void PathWatch::Pause() {
    FTimer.stop();
}

void PathWatch::Reset() {
    CloseMinute();
    FRounds.clear();
    FHops.clear();
    FDistance = 0;
    FRoundsEnded = 0;
    FTracker.Reset();
}

void PathWatch::RunRound() {
    Round round;
    round.serial = FNextSerial++;
    round.startedMs = FWallClock();
    const int ttls = ProbedTtls();
    round.results.resize(static_cast<std::size_t>(ttls));
    round.pending = ttls;
    FRounds.push_back(std::move(round));
    const std::uint64_t serial = FNextSerial - 1;
    for (int ttl = 1; ttl <= ttls; ++ttl) {
        EchoSender::Options options;
        options.ttl = static_cast<std::uint8_t>(ttl);
        options.dataSize = DataSize;
        options.timeoutMs = static_cast<std::uint32_t>(FTimeoutMs);
        // A shared sender may outlive the watch: its completions ask first.
        FSender->Send(FTarget, options,
                      [alive = FAlive, serial, ttl](const EchoSender::Outcome& outcome) {
                          if (alive->watch != nullptr)
                              alive->watch->Outcome(serial, ttl, outcome);
                      });
    }
}

void PathWatch::Outcome(std::uint64_t serial, int ttl, const EchoSender::Outcome& outcome) {
    auto round = std::find_if(FRounds.begin(), FRounds.end(),
                              [serial](const Round& r) { return r.serial == serial; });
    if (round == FRounds.end())
        return; // a round from before a Reset
    Result& result = round->results[static_cast<std::size_t>(ttl - 1)];
    if (result.kind != Kind::Waiting)
        return;
    result.from.family = FTarget.family == 6 ? 6 : 4;
    result.from.bytes = outcome.from;
    result.rttMs =
        std::chrono::duration<double, std::milli>(outcome.received - outcome.sent).count();
    switch (outcome.status) {
    case IcmpStatus::Success:
        // The sender takes replies from the target only; anything else
        // would not be an answer to this request.
        result.kind = result.from == FTargetAddress ? Kind::Terminal : Kind::Lost;
        break;
    case IcmpStatus::TtlExpiredTransit:
    case IcmpStatus::TtlExpiredReassem:
        result.kind = Kind::Transit;
        break;
    case IcmpStatus::DestNetUnreachable:
    case IcmpStatus::DestHostUnreachable:
    case IcmpStatus::DestProtUnreachable:
    case IcmpStatus::DestPortUnreachable:
    case IcmpStatus::BadRoute:
        result.kind = Kind::Terminal;
        break;
    case IcmpStatus::NoResources:
    case IcmpStatus::GeneralFailure:
    case IcmpStatus::BufTooSmall:
    case IcmpStatus::BadOption:
    case IcmpStatus::HwError:
    case IcmpStatus::BadReq:
    case IcmpStatus::BadDestination:
        result.kind = Kind::NotSent;
        break;
    default:
        result.kind = Kind::Lost;
        break;
    }
    if (result.kind == Kind::Lost || result.kind == Kind::NotSent)
        result.from = Address();
    --round->pending;
    EndRounds();
}

void PathWatch::EndRounds() {
    while (!FRounds.empty() && FRounds.front().pending == 0) {
        Round round = std::move(FRounds.front());
        FRounds.pop_front();
        Count(round);
    }
}

void PathWatch::Count(const Round& round) {
    const auto answered = [](const Result& r) {
        return r.kind == Kind::Transit || r.kind == Kind::Terminal;
    };
    const int probed = static_cast<int>(round.results.size());
    int terminal = 0;
    for (int k = 0; k < probed && terminal == 0; ++k)
        if (round.results[static_cast<std::size_t>(k)].kind == Kind::Terminal)
            terminal = k + 1;
    if (terminal > 0)
        FDistance = terminal;
    else if (FDistance > 0 && probed >= FDistance &&
             round.results[static_cast<std::size_t>(FDistance - 1)].kind == Kind::Transit)
        FDistance = 0; // a router where the target was: the path grew
    int length = terminal > 0 ? terminal : probed;
    if (FDistance > 0) {
        length = std::min(length, FDistance);
        if (FHops.size() > static_cast<std::size_t>(FDistance))
            FHops.resize(static_cast<std::size_t>(FDistance));
    }
    if (FHops.size() < static_cast<std::size_t>(length))
        FHops.resize(static_cast<std::size_t>(length));

    const qint64 minute = round.startedMs - ((round.startedMs % MinuteMs) + MinuteMs) % MinuteMs;
    if (!FMinute.empty() && minute != FMinuteStart)
        CloseMinute();
    FMinuteStart = minute;

    // laterAnswer[k]: some hop beyond TTL k + 1 answered in this round.
    std::vector<bool> laterAnswer(static_cast<std::size_t>(length), false);
    for (int k = length - 2; k >= 0; --k) {
        const auto index = static_cast<std::size_t>(k);
        const std::size_t next = index + 1;
        laterAnswer[index] = laterAnswer[next] || answered(round.results[next]);
    }

    Route route(static_cast<std::size_t>(length));
    for (int k = 0; k < length; ++k) {
        const auto index = static_cast<std::size_t>(k);
        const Result& result = round.results[index];
        if (result.kind == Kind::NotSent)
            continue;
        Hop& hop = FHops[index];
        ++hop.sent;
        for (Responder& r : hop.responders)
            ++r.sent;
        Mark mark = Mark::Answered;
        if (answered(result)) {
            const std::optional<double> hopBefore =
                hop.rtt.Answers() > 0 ? std::optional(hop.rtt.LastMs()) : std::nullopt;
            ++hop.answered;
            hop.rtt.Add(result.rttMs);
            auto found = std::find_if(hop.responders.begin(), hop.responders.end(),
                                      [&](const Responder& r) { return r.address == result.from; });
            if (found == hop.responders.end()) {
                hop.responders.push_back({result.from, 1, 0, {}});
                found = std::prev(hop.responders.end());
                LookUp(result.from);
            }
            const std::optional<double> responderBefore =
                found->rtt.Answers() > 0 ? std::optional(found->rtt.LastMs()) : std::nullopt;
            ++found->answered;
            found->rtt.Add(result.rttMs);
            route[index] = {result.from};
            AddToMinute(minute, k + 1, Address(), true, result.rttMs, hopBefore, false);
            AddToMinute(minute, k + 1, result.from, true, result.rttMs, responderBefore, false);
        } else {
            const bool forwarded = !laterAnswer[index];
            mark = forwarded ? Mark::ForwardedLost : Mark::Lost;
            AddToMinute(minute, k + 1, Address(), false, 0, std::nullopt, forwarded);
        }
        hop.marks[hop.markNext] = mark;
        hop.markNext = (hop.markNext + 1) % RecentRounds;
        hop.markCount = std::min(hop.markCount + 1, RecentRounds);
    }

    ++FRoundsEnded;
    const std::optional<RouteChange> change = FTracker.Feed(std::move(route), round.startedMs);
    if (change)
        emit RouteChanged(*change);
    emit RoundEnded();
}

void PathWatch::AddToMinute(qint64 startedMs, int ttl, const Address& responder, bool answered,
                            double rttMs, std::optional<double> previousMs, bool forwardedLost) {
    MinuteSummary& s = FMinute[{ttl, responder}];
    s.minuteStartMs = startedMs;
    s.ttl = ttl;
    s.responder = responder;
    if (responder.IsNull()) {
        ++s.sent;
        if (forwardedLost)
            ++s.forwardedLost;
    }
    if (!answered)
        return;
    ++s.answered;
    s.rttSumMs += rttMs;
    s.rttSquaresMs += rttMs * rttMs;
    ++s.histogram[HistogramBucket(rttMs)];
    if (previousMs) {
        s.diffSumMs += std::abs(rttMs - *previousMs);
        ++s.diffCount;
    }
}

void PathWatch::CloseMinute() {
    if (FMinute.empty())
        return;
    QList<MinuteSummary> minute;
    minute.reserve(static_cast<qsizetype>(FMinute.size()));
    std::uint32_t hopSent = 0;
    // The map holds each hop's own record (null responder) before its
    // responders'.
    for (auto& [key, summary] : FMinute) {
        if (summary.responder.IsNull())
            hopSent = summary.sent;
        else
            summary.sent = hopSent;
        minute.append(summary);
    }
    FMinute.clear();
    emit MinuteClosed(minute);
}

void PathWatch::LookUp(const Address& address) {
    if (!FResolveNames || FNames.count(address) != 0 || FLookups.count(address) != 0)
        return;
    FLookups.insert(address);
    const std::uint32_t scope = LinkLocal(address) ? FTarget.scopeId : 0;
    LookupPool().start([alive = FAlive, address, scope, service = platform::CurrentNameService()] {
        platform::HostRecord record;
        int error = 0;
        if (address.family == 6) {
            error = service->ByAddr6(address.bytes, scope, record);
        } else {
            std::uint32_t v4 = 0;
            std::memcpy(&v4, address.bytes.data(), sizeof v4);
            error = service->ByAddr(v4, record);
        }
        const QString name = error == 0 ? QString::fromStdString(record.name) : QString();
        std::lock_guard lock(alive->mutex);
        if (alive->watch == nullptr)
            return;
        QMetaObject::invokeMethod(
            alive->watch,
            [alive, address, name] {
                if (alive->watch != nullptr)
                    alive->watch->NameFound(address, name);
            },
            Qt::QueuedConnection);
    });
}

void PathWatch::NameFound(const Address& address, const QString& name) {
    FLookups.erase(address);
    // A failed lookup is remembered too: it is not asked again.
    FNames[address] = name;
    if (!name.isEmpty())
        emit NameResolved(address, name);
}

QString PathWatch::NameOf(const Address& address) const {
    auto found = FNames.find(address);
    return found == FNames.end() ? QString() : found->second;
}

int PathWatch::ShownHops() const {
    const int held = static_cast<int>(FHops.size());
    if (FDistance > 0)
        return std::min(FDistance, held);
    int last = 0;
    for (int k = 0; k < held; ++k)
        if (FHops[static_cast<std::size_t>(k)].answered > 0)
            last = k + 1;
    return std::min(held, last + 1);
}

PathFigures PathWatch::Figures() const {
    PathFigures f;
    f.target = TargetText(FTarget);
    f.rounds = FRoundsEnded;
    f.distance = FDistance;
    f.flapping = FTracker.Flapping();
    const int shown = ShownHops();
    for (int k = 0; k < shown; ++k) {
        const Hop& hop = FHops[static_cast<std::size_t>(k)];
        HopFigures h;
        h.ttl = k + 1;
        h.sent = hop.sent;
        h.answered = hop.answered;
        h.lossPercent = PercentOf(hop.sent - hop.answered, hop.sent);
        std::uint64_t lost = 0;
        std::uint64_t forwarded = 0;
        for (std::size_t i = 0; i < hop.markCount; ++i) {
            lost += hop.marks[i] != Mark::Answered ? 1 : 0;
            forwarded += hop.marks[i] == Mark::ForwardedLost ? 1 : 0;
        }
        h.recentLossPercent = PercentOf(lost, hop.markCount);
        h.forwardedLossPercent = PercentOf(forwarded, hop.markCount);
        h.silent = hop.answered == 0;
        h.rtt = hop.rtt.Figures();
        for (const Responder& r : hop.responders) {
            ResponderFigures rf;
            rf.address = r.address;
            rf.name = NameOf(r.address);
            rf.sent = r.sent;
            rf.answered = r.answered;
            rf.lossPercent = PercentOf(r.sent - r.answered, r.sent);
            rf.rtt = r.rtt.Figures();
            rf.recentMs = r.rtt.Recent();
            h.responders.push_back(std::move(rf));
        }
        f.hops.push_back(std::move(h));
    }
    return f;
}

} // namespace paths
