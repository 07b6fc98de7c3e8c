#include "echo/TAxTrace.h"

#include "echo/PortEcho.h"

#include <algorithm>
#include <arpa/inet.h>
#include <iterator>

namespace {
const std::uint32_t Loopback = htonl(0x7F000001u);
}

TAxTrace::TAxTrace(QObject* AOwner) : TAxIcmpTask(AOwner) {
    SetResolve(false);
}

std::uint8_t TAxTrace::PredictHops(std::uint8_t replyTtl) {
    if (replyTtl == 0)
        return 0;
    // Senders start with one of a few time-to-live values: 64 (Linux, macOS,
    // most routers), 128 (Windows), 255 (some routers and older systems), 32
    // (very old ones). The smallest that is not below the reply's is the one
    // it left with; each router on the way took one off.
    int initial = 255;
    for (int candidate : {32, 64, 128})
        if (candidate >= replyTtl) {
            initial = candidate;
            break;
        }
    return static_cast<std::uint8_t>(initial - replyTtl + 1);
}

void TAxTrace::BeginRun() {
    FExpectedHops = 0;
    FHopsDone = false;
    // A port probe's answer carries no time-to-live to predict hops from.
    if (!FSendTestPacket || FProbeKind != platform::ProbeKind::Icmp) {
        FOptions.Ttl = 1;
        SendEcho();
        return;
    }
    if (IsLoopbackTarget()) {
        // The loopback address is its own next hop: no test is needed.
        FStatus = 0;
        FReply.Status = 0;
        FReply.Options.Ttl = 255;
        TestDone();
        return;
    }
    FOptions.Ttl = FTimeToLive;
    ClearReply();
    // The test always runs on a worker, whatever the mode.
    StartPingThread([this] { TestDone(); });
}

bool TAxTrace::IsLoopbackTarget() const {
    if (FTargetFamily != platform::AfInet6)
        return FTargetAddress == Loopback;
    static const std::uint8_t loopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::equal(std::begin(loopback6), std::end(loopback6), FTargetAddress6.Bytes);
}

void TAxTrace::TestDone() {
    std::shared_ptr<bool> alive = AliveToken();
    if (CheckStatus() && FStatus == 0) {
        FExpectedHops = PredictHops(FReply.Options.Ttl);
        DoTest();
        if (!*alive)
            return;
        FOptions.Ttl = 1;
        SendEcho();
        return;
    }
    DoError(FStatus, FStatusText);
    if (*alive)
        FBusy = false;
}

void TAxTrace::DoTest() {
    const std::shared_ptr<bool> alive = AliveToken();
    emit Tested();
    if (*alive)
        FireEvent(OnTest, this);
}

void TAxTrace::CountReply() {
    FHopsDone = true;
    TAxIcmpTask::CountReply();
}

bool TAxTrace::NextEcho() {
    if (FStatus == 0)
        return false;
    if (FOptions.Ttl < FTimeToLive) {
        ++FOptions.Ttl;
        return true;
    }
    return false;
}

QString TAxTrace::HopText() const {
    if (!FBusy)
        return {};
    const QString n = QString::number(Hop());
    const QString t = QString::number(FReply.RoundTripTime);
    const QChar tab = QLatin1Char('\t');
    switch (FStatus) {
    case EchoStatus::Answered:
        // A port's answer says what answered in the place of "reached".
        if (FProbeKind != platform::ProbeKind::Icmp)
            return n + tab + t + tab + ReplyName() + tab + PortEcho::AnswerWords(FPortAnswer);
        return n + tab + t + tab + ReplyName() + tab + QStringLiteral("reached");
    case EchoStatus::TtlExpired:
        return n + tab + t + tab + ReplyName();
    case EchoStatus::TimedOut:
        return n + tab + QStringLiteral("*") + tab + QStringLiteral("timed out");
    case EchoStatus::HostUnreachable:
        return QStringLiteral("From ") + ReplyName() + QStringLiteral(": ") + FStatusText;
    case ErrCancelled:
        return QStringLiteral("<cancel>");
    default:
        return ReplyName() + QStringLiteral(": ") + FStatusText;
    }
}

QString TAxTrace::SummaryText() const {
    // The last hop's values stay after the run, and so does its summary;
    // before the first hop of any run there is nothing to sum up.
    if (!FHopsDone)
        return {};
    if (FStatus == ErrCancelled)
        return QStringLiteral("Trace Cancelled after %1 hops.").arg(Hop() - 1);
    if (FStatus == 0 && FExpectedHops == 0)
        return ReplyName() + QStringLiteral(" reached in ") + QString::number(Hop()) +
               QStringLiteral(" hops.");
    if (FStatus == 0)
        return ReplyName() + QStringLiteral(" reached in ") + QString::number(Hop()) +
               QStringLiteral(" hops. (expected: ") + QString::number(FExpectedHops) +
               QStringLiteral(")");
    return ReplyName() + QStringLiteral(": ") + FStatusText;
}
