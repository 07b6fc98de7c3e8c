#include "history/PathRecords.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

namespace history {

namespace {

using paths::Address;
using paths::MinuteSummary;

constexpr char MinuteFormat = 1;
// Set in a responder's family byte when its figures are the hop's own.
constexpr std::uint8_t SameAsHop = 0x80;
constexpr std::size_t V4Bytes = 4;
constexpr std::size_t V6Bytes = 16;
constexpr double MicrosPerMs = 1000.0;
constexpr double SquareMicrosPerMs = 1e6;

void PutVarint(QByteArray* out, std::uint64_t value) {
    while (value >= 0x80) {
        out->append(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out->append(static_cast<char>(value));
}

// Reads the blob from a position; any read past its end or of a number
// longer than 64 bits marks the reader failed, and it reads zeros from then
// on.
class Reader {
public:
    explicit Reader(const QByteArray& blob) : FBlob(blob) {}
    bool Failed() const { return FFailed; }
    bool AtEnd() const { return FPos >= FBlob.size(); }
    std::uint64_t Varint() {
        std::uint64_t value = 0;
        for (int shift = 0; !FFailed; shift += 7) {
            if (FPos >= FBlob.size() || shift > 63) {
                FFailed = true;
                break;
            }
            const auto byte = static_cast<std::uint8_t>(FBlob[FPos++]);
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0)
                return value;
        }
        return 0;
    }
    std::uint8_t Byte() {
        if (FFailed || FPos >= FBlob.size()) {
            FFailed = true;
            return 0;
        }
        return static_cast<std::uint8_t>(FBlob[FPos++]);
    }
    // The 32-bit counts of a minute; larger ones are damage.
    std::uint32_t Count() {
        const std::uint64_t value = Varint();
        if (value > UINT32_MAX)
            FFailed = true;
        return FFailed ? 0 : static_cast<std::uint32_t>(value);
    }

private:
    const QByteArray& FBlob;
    qsizetype FPos = 0;
    bool FFailed = false;
};

std::uint64_t Micros(double ms) {
    return ms > 0 ? static_cast<std::uint64_t>(std::llround(ms * MicrosPerMs)) : 0;
}

std::uint64_t SquareMicros(double squareMs) {
    return squareMs > 0 ? static_cast<std::uint64_t>(std::llround(squareMs * SquareMicrosPerMs))
                        : 0;
}

// The figures a record stores besides sent and forwarded losses, rounded
// as stored.
struct Sums {
    std::uint32_t answered = 0;
    std::uint64_t rttUs = 0;
    std::uint64_t squaresUs2 = 0;
    std::uint64_t diffUs = 0;
    std::uint32_t diffCount = 0;
    std::array<std::uint32_t, MinuteSummary::Buckets> histogram{};

    explicit Sums(const MinuteSummary& s)
        : answered(s.answered), rttUs(Micros(s.rttSumMs)), squaresUs2(SquareMicros(s.rttSquaresMs)),
          diffUs(Micros(s.diffSumMs)), diffCount(s.diffCount), histogram(s.histogram) {}
    bool operator==(const Sums&) const = default;
};

void PutSums(QByteArray* out, const Sums& s) {
    PutVarint(out, s.answered);
    if (s.answered == 0)
        return;
    PutVarint(out, s.rttUs);
    PutVarint(out, s.squaresUs2);
    PutVarint(out, s.diffUs);
    PutVarint(out, s.diffCount);
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < s.histogram.size(); ++i)
        if (s.histogram[i] > 0)
            mask |= std::uint64_t{1} << i;
    PutVarint(out, mask);
    for (std::uint32_t n : s.histogram)
        if (n > 0)
            PutVarint(out, n);
}

void ReadSums(Reader& in, MinuteSummary* s) {
    s->answered = in.Count();
    if (s->answered == 0)
        return;
    s->rttSumMs = static_cast<double>(in.Varint()) / MicrosPerMs;
    s->rttSquaresMs = static_cast<double>(in.Varint()) / SquareMicrosPerMs;
    s->diffSumMs = static_cast<double>(in.Varint()) / MicrosPerMs;
    s->diffCount = in.Count();
    const std::uint64_t mask = in.Varint();
    for (std::size_t i = 0; i < s->histogram.size(); ++i)
        if ((mask >> i) & 1U)
            s->histogram[i] = in.Count();
}

void PutAddress(QByteArray* out, const Address& a, std::uint8_t flags) {
    out->append(static_cast<char>((a.family == 6 ? 6 : 4) | flags));
    out->append(reinterpret_cast<const char*>(a.bytes.data()),
                static_cast<qsizetype>(a.family == 6 ? V6Bytes : V4Bytes));
}

// The address's family byte without its flags is returned in *flags' place.
Address ReadAddress(Reader& in, std::uint8_t* flags) {
    const std::uint8_t first = in.Byte();
    *flags = first & SameAsHop;
    Address a;
    a.family = (first & ~SameAsHop) == 6 ? 6 : 4;
    const std::size_t n = a.family == 6 ? V6Bytes : V4Bytes;
    for (std::size_t i = 0; i < n; ++i)
        a.bytes[i] = in.Byte();
    return a;
}

// The records of a minute by TTL: each hop's own record and its responders
// in the order given.
struct Hop {
    MinuteSummary own;
    std::vector<MinuteSummary> responders;
};

std::map<int, Hop> ByTtl(const QList<MinuteSummary>& records) {
    std::map<int, Hop> hops;
    for (const MinuteSummary& r : records) {
        auto [it, made] = hops.try_emplace(r.ttl);
        if (made) {
            it->second.own.ttl = r.ttl;
            it->second.own.minuteStartMs = r.minuteStartMs;
        }
        if (r.responder.IsNull())
            it->second.own = r;
        else
            it->second.responders.push_back(r);
    }
    return hops;
}

void AddInto(MinuteSummary* to, const MinuteSummary& from) {
    to->sent += from.sent;
    to->answered += from.answered;
    to->forwardedLost += from.forwardedLost;
    to->rttSumMs += from.rttSumMs;
    to->rttSquaresMs += from.rttSquaresMs;
    to->diffSumMs += from.diffSumMs;
    to->diffCount += from.diffCount;
    for (std::size_t i = 0; i < to->histogram.size(); ++i)
        to->histogram[i] += from.histogram[i];
}

} // namespace

QByteArray PackMinute(const QList<MinuteSummary>& records) {
    const std::map<int, Hop> hops = ByTtl(records);
    QByteArray out;
    out.reserve(32 * static_cast<qsizetype>(hops.size()) + 2);
    out.append(MinuteFormat);
    PutVarint(&out, hops.size());
    int previousTtl = 0;
    for (const auto& [ttl, hop] : hops) {
        PutVarint(&out, static_cast<std::uint64_t>(std::max(ttl - previousTtl, 0)));
        previousTtl = ttl;
        PutVarint(&out, hop.own.sent);
        PutVarint(&out, hop.own.forwardedLost);
        const Sums own(hop.own);
        PutSums(&out, own);
        PutVarint(&out, hop.responders.size());
        for (const MinuteSummary& r : hop.responders) {
            const Sums sums(r);
            const bool same = r.sent == hop.own.sent && sums == own;
            PutAddress(&out, r.responder, same ? SameAsHop : 0);
            if (same)
                continue;
            // A responder is counted from the minute's part in which it
            // first answered, so it never has more requests than its hop.
            PutVarint(&out, hop.own.sent - std::min(r.sent, hop.own.sent));
            PutSums(&out, sums);
        }
    }
    return out;
}

QList<MinuteSummary> UnpackMinute(const QByteArray& blob, qint64 minuteStartMs) {
    QList<MinuteSummary> out;
    Reader in(blob);
    if (in.Byte() != MinuteFormat)
        return out;
    const std::uint64_t hops = in.Varint();
    int ttl = 0;
    for (std::uint64_t h = 0; h < hops && !in.Failed(); ++h) {
        MinuteSummary own;
        own.minuteStartMs = minuteStartMs;
        ttl += static_cast<int>(std::min<std::uint64_t>(in.Varint(), 0xFFFF));
        own.ttl = ttl;
        own.sent = in.Count();
        own.forwardedLost = in.Count();
        ReadSums(in, &own);
        const std::uint64_t responders = in.Varint();
        if (in.Failed())
            break;
        out.append(own);
        for (std::uint64_t k = 0; k < responders && !in.Failed(); ++k) {
            std::uint8_t flags = 0;
            const Address address = ReadAddress(in, &flags);
            MinuteSummary r;
            if (flags & SameAsHop) {
                r = own;
                r.forwardedLost = 0;
            } else {
                r.minuteStartMs = minuteStartMs;
                r.ttl = ttl;
                const std::uint32_t shortfall = in.Count();
                r.sent = own.sent - std::min(shortfall, own.sent);
                ReadSums(in, &r);
            }
            r.responder = address;
            if (!in.Failed())
                out.append(r);
        }
    }
    return out;
}

QList<MinuteSummary> AddMinutes(const QList<MinuteSummary>& a, const QList<MinuteSummary>& b) {
    std::map<int, Hop> hops = ByTtl(a);
    for (const auto& [ttl, part] : ByTtl(b)) {
        auto [it, made] = hops.try_emplace(ttl, part);
        if (made)
            continue;
        Hop& hop = it->second;
        AddInto(&hop.own, part.own);
        for (const MinuteSummary& r : part.responders) {
            const auto known =
                std::find_if(hop.responders.begin(), hop.responders.end(),
                             [&](const MinuteSummary& x) { return x.responder == r.responder; });
            if (known == hop.responders.end())
                hop.responders.push_back(r);
            else
                AddInto(&*known, r);
        }
    }
    QList<MinuteSummary> out;
    for (const auto& [ttl, hop] : hops) {
        out.append(hop.own);
        for (const MinuteSummary& r : hop.responders)
            out.append(r);
    }
    return out;
}

QByteArray PackRoute(const paths::Route& route) {
    QByteArray out;
    PutVarint(&out, route.size());
    for (const std::vector<Address>& at : route) {
        PutVarint(&out, at.size());
        for (const Address& a : at)
            PutAddress(&out, a, 0);
    }
    return out;
}

paths::Route UnpackRoute(const QByteArray& blob) {
    paths::Route route;
    Reader in(blob);
    const std::uint64_t ttls = in.Varint();
    for (std::uint64_t t = 0; t < ttls && !in.Failed() && !in.AtEnd(); ++t) {
        std::vector<Address> at;
        const std::uint64_t n = in.Varint();
        for (std::uint64_t k = 0; k < n && !in.Failed(); ++k) {
            std::uint8_t flags = 0;
            const Address a = ReadAddress(in, &flags);
            if (!in.Failed())
                at.push_back(a);
        }
        if (in.Failed())
            break;
        route.push_back(std::move(at));
    }
    return route;
}

} // namespace history
