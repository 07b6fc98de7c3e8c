#include "echo/TAxPing.h"

#include "echo/PortEcho.h"

namespace {

// numerator / denominator rounded to the nearest integer, an exact half to
// the even neighbour.
std::uint64_t RoundedQuotient(std::uint64_t numerator, std::uint64_t denominator) {
    std::uint64_t q = numerator / denominator;
    std::uint64_t twice = 2 * (numerator % denominator);
    if (twice > denominator || (twice == denominator && (q & 1) != 0))
        ++q;
    return q;
}

} // namespace

TAxPing::TAxPing(QObject* AOwner) : TAxIcmpTask(AOwner) {}

void TAxPing::BeginRun() {
    FSent = 1;
    FReceived = 0;
    FMinTime = 0;
    FMaxTime = 0;
    FAvgTime = 0;
    FOptions.Ttl = FTimeToLive;
    SendEcho();
}

void TAxPing::CountReply() {
    if (FStatus == 0) {
        auto t = static_cast<std::uint16_t>(FReply.RoundTripTime);
        ++FReceived;
        if (FReceived == 1) {
            FMinTime = t;
            FMaxTime = t;
        }
        std::uint64_t total = std::uint64_t{FAvgTime} * (FReceived - 1u) + t;
        FAvgTime = static_cast<std::uint16_t>(RoundedQuotient(total, FReceived));
        if (t < FMinTime)
            FMinTime = t;
        if (t > FMaxTime)
            FMaxTime = t;
    }
    TAxIcmpTask::CountReply();
}

bool TAxPing::NextEcho() {
    if (FSent >= FNumber)
        return false;
    ++FSent;
    return true;
}

QString TAxPing::ReplyText() const {
    if (!FBusy)
        return {};
    if (FProbeKind != platform::ProbeKind::Icmp)
        return PortReplyText();
    bool answered = FStatus == 0 || (FStatus == ErrCancelled && FReply.Status == 0);
    if (answered)
        return QString::number(FReply.DataSize) + QStringLiteral(" bytes received from ") +
               ReplyName() + QStringLiteral(". time = ") + QString::number(FReply.RoundTripTime) +
               QStringLiteral("ms");
    return ReplyName() + QStringLiteral(": ") + FStatusText;
}

QString TAxPing::PortReplyText() const {
    const QString where = PortEcho::HostWithPort(ReplyName(), FProbeKind, FProbePort);
    bool answered = FStatus == 0 || (FStatus == ErrCancelled && FReply.Status == 0);
    if (answered) {
        QString prefix;
        switch (FPortAnswer) {
        case platform::PortAnswer::Connected:
            prefix = QStringLiteral("connected to ");
            break;
        case platform::PortAnswer::Refused:
            prefix = QStringLiteral("refused by ");
            break;
        case platform::PortAnswer::Reply:
            prefix = QStringLiteral("reply from ");
            break;
        case platform::PortAnswer::PortUnreachable:
            prefix = QStringLiteral("port unreachable from ");
            break;
        case platform::PortAnswer::None:
            break;
        }
        return prefix + where + QStringLiteral(". time = ") +
               QString::number(FReply.RoundTripTime) + QStringLiteral("ms");
    }
    // Silence is all a UDP probe of an open port may get. The line still
    // says "timed out", which is what the list's state reads.
    if (FProbeKind == platform::ProbeKind::Udp && FStatus == EchoStatus::TimedOut)
        return where + QStringLiteral(": ") + FStatusText +
               QStringLiteral(", no answer (open or filtered)");
    return where + QStringLiteral(": ") + FStatusText;
}

QString TAxPing::StatsText() const {
    if (!FBusy)
        return {};
    return QStringLiteral("Stats: Rcvd/Sent: %1/%2, Min/Avg/Max: %3/%4/%5")
        .arg(FReceived)
        .arg(FSent)
        .arg(FMinTime)
        .arg(FAvgTime)
        .arg(FMaxTime);
}
