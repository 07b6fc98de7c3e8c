#include "echo/TAxTrace.h"

#include <arpa/inet.h>

namespace {
const std::uint32_t Loopback = htonl(0x7F000001u);
}

TAxTrace::TAxTrace(QObject* AOwner) : TAxIcmpTask(AOwner) {
    SetResolve(false);
}

void TAxTrace::BeginRun() {
    FExpectedHops = 0;
    if (!FSendTestPacket) {
        FOptions.Ttl = 1;
        SendEcho();
        return;
    }
    if (FTargetAddress == Loopback) {
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

void TAxTrace::TestDone() {
    std::shared_ptr<bool> alive = AliveToken();
    if (CheckStatus() && FStatus == 0) {
        FExpectedHops = static_cast<std::uint8_t>(256 - FReply.Options.Ttl);
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
    FireEvent(OnTest, this);
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
    case 0:
        return n + tab + t + tab + ReplyName() + tab + QStringLiteral("reached");
    case 11013:
        return n + tab + t + tab + ReplyName();
    case 11010:
        return n + tab + QStringLiteral("*") + tab + QStringLiteral("timed out");
    case 11003:
        return QStringLiteral("From ") + ReplyName() + QStringLiteral(": ") + FStatusText;
    case ErrCancelled:
        return QStringLiteral("<cancel>");
    default:
        return ReplyName() + QStringLiteral(": ") + FStatusText;
    }
}

QString TAxTrace::SummaryText() const {
    if (!FBusy)
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
