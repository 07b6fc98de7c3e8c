#include "echo/TAxIcmp.h"
#include "platform/Events.h"

#include "echo/AxIcmp.h"
#include "echo/IcmpBinding.h"
#include "echo/PortEcho.h"
#include "echo/TPingThread.h"
#include "platform/Component.h"
#include "platform/Messages.h"
#include "platform/WindowThread.h"
#include "resolve/WSExtra.h"

TAxIcmp::TAxIcmp(QObject* AOwner) : QObject(AOwner), FAlive(std::make_shared<bool>(true)) {
    FOptions.Ttl = FTimeToLive;
    if (!platform::IsDesigning(this))
        StartSocketLibrary(this);
}

TAxIcmp::~TAxIcmp() {
    *FAlive = false;
    if (FThread)
        FThread->Detach();
    StopSocketLibrary(this);
}

void TAxIcmp::SetPacketSize(int Value) {
    FPacketSize = Value < 8 ? 8 : Value;
}

void TAxIcmp::ClearReply() {
    FStatus = 0;
    FReply = TEchoReply{};
    FReply.Address = NoAddress;
    FReply6 = TEcho6Reply{};
    FPortAnswer = platform::PortAnswer::None;
}

bool TAxIcmp::HasReply6() const {
    // No node answers from the unspecified address ::.
    for (std::uint8_t byte : FReply6.Address.Bytes)
        if (byte != 0)
            return true;
    return false;
}

void TAxIcmp::StartPingThread(std::function<void()> onTerminate, int Count) {
    std::shared_ptr<TPingThread> thread =
        FTargetFamily == platform::AfInet6
            ? TPingThread::Create6(FStatus, FOptions, FTargetAddress6, FPacketSize, FTimeOut,
                                   FReply, FReply6)
            : TPingThread::Create(FStatus, FOptions, FTargetAddress, FPacketSize, FTimeOut, FReply);
    thread->SetSeries(Count);
    RunPingThread(thread, std::move(onTerminate));
}

void TAxIcmp::SendNoMore() {
    if (FThread)
        FThread->StopSeries();
}

void TAxIcmp::StopEchoes() {
    if (FThread)
        FThread->Detach();
    FThread.reset();
}

void TAxIcmp::RunPingThread(const std::shared_ptr<TPingThread>& thread,
                            std::function<void()> onTerminate) {
    TPingThread* raw = thread.get();
    thread->OnTerminate = [this, raw, done = std::move(onTerminate)] {
        // A series stays this component's request until its last echo.
        if (FThread.get() == raw && !raw->SeriesPending())
            FThread.reset();
        done();
    };
    if (FThread)
        FThread->Detach();
    FThread = thread;
    // A worker taken over from a run ahead has been started already.
    thread->Start();
}

void TAxIcmp::AdoptSentAhead(const TSentAhead& Ahead) {
    if (Ahead.Port) {
        Ahead.Port([this, alive = FAlive](const platform::PortProbes::Outcome& outcome) {
            if (*alive)
                PortProbeDone(outcome);
        });
        return;
    }
    if (Ahead.Thread) {
        Ahead.Thread->Retarget(FStatus, FReply, &FReply6);
        RunPingThread(Ahead.Thread, [this] { EchoDone(); });
        return;
    }
    // The request has ended already; its completion still comes from the
    // event loop, after SendEcho has returned, as for any request in flight.
    platform::PostToWindowThread([this, alive = FAlive, Ahead] {
        if (!*alive)
            return;
        FStatus = Ahead.Status;
        FReply = Ahead.Reply;
        FReply6 = Ahead.Reply6;
        FPortAnswer = Ahead.Answer;
        EchoDone();
    });
}

void TAxIcmp::SendEcho() {
    ClearReply();
    if (FMode == wsmAsync) {
        // The series this run started sends the next request itself.
        if (FThread && FThread->SeriesPending())
            return;
        if (TakeSentAhead) {
            const TEchoTarget target{FTargetFamily, FTargetAddress, FTargetAddress6, FProbeKind,
                                     FProbePort};
            if (std::optional<TSentAhead> ahead = TakeSentAhead(target)) {
                AdoptSentAhead(*ahead);
                return;
            }
        }
        if (FProbeKind != platform::ProbeKind::Icmp) {
            SendPortProbe();
            return;
        }
        StartPingThread([this] { EchoDone(); }, EchoesLeft());
        return;
    }
    if (FInlineActive) {
        FInlinePending = true;
        return;
    }
    std::shared_ptr<bool> alive = FAlive;
    FInlineActive = true;
    do {
        FInlinePending = false;
        RunInline();
        if (!*alive)
            return;
    } while (FInlinePending);
    FInlineActive = false;
}

PortEcho& TAxIcmp::Ports() {
    if (!FPortEcho)
        FPortEcho = std::make_unique<PortEcho>();
    return *FPortEcho;
}

void TAxIcmp::SendPortProbe() {
    Ports().Send(
        PortEcho::TargetOf(FTargetFamily, FTargetAddress, FTargetAddress6, FProbeKind, FProbePort),
        FOptions.Ttl, FTimeOut,
        [this](const platform::PortProbes::Outcome& outcome) { PortProbeDone(outcome); });
}

void TAxIcmp::PortProbeDone(const platform::PortProbes::Outcome& Outcome) {
    PortEcho::Fill(Outcome, FTargetFamily, FStatus, FReply, FReply6);
    FPortAnswer = Outcome.answer;
    EchoDone();
}

void TAxIcmp::RunInline() {
    if (FProbeKind != platform::ProbeKind::Icmp) {
        const platform::PortProbes::Outcome outcome =
            PortEcho::SendNow(PortEcho::TargetOf(FTargetFamily, FTargetAddress, FTargetAddress6,
                                                 FProbeKind, FProbePort),
                              FOptions.Ttl, FTimeOut);
        PortEcho::Fill(outcome, FTargetFamily, FStatus, FReply, FReply6);
        FPortAnswer = outcome.answer;
        EchoDone();
        return;
    }
    bool ipv6 = FTargetFamily == platform::AfInet6;
    IcmpHandle handle = ipv6 ? Icmp6CreateFile() : IcmpCreateFile();
    if (handle == InvalidIcmpHandle) {
        FStatus = ErrNoHandle;
    } else if (ipv6) {
        TEcho6Reply reply6;
        FStatus = Echo6Request(handle, FOptions, reply6, FTargetAddress6, FPacketSize, FTimeOut);
        if (FStatus == 0) {
            FReply6 = reply6;
            FReply = SummaryOf(reply6);
        }
        IcmpCloseHandle(handle);
    } else {
        FStatus = EchoRequest(handle, FOptions, FReply, FTargetAddress, FPacketSize, FTimeOut);
        IcmpCloseHandle(handle);
    }
    EchoDone();
}

void TAxIcmp::EchoDone() {
    if (CheckStatus())
        DoData();
    else
        DoError(FStatus, FStatusText);
}

bool TAxIcmp::CheckStatus() {
    if (FStatus == ErrNoHandle) {
        FStatusText = QStringLiteral("Unable to get a handle for the Ping");
        return false;
    }
    if (FStatus == 0) {
        FStatus = static_cast<int>(FReply.Status);
        FStatusText = IcmpStatusText(FStatus);
        return true;
    }
    if (FStatus >= 10000 && FStatus <= 11000) {
        FStatusText = SocketErrorText(FStatus);
        return false;
    }
    FReply.Status = static_cast<std::uint32_t>(FStatus);
    FStatusText = IcmpStatusText(FStatus);
    return true;
}

void TAxIcmp::DoData() {
    const std::shared_ptr<bool> alive = AliveToken();
    emit Data(FStatus);
    if (*alive)
        FireEvent(OnData, this, FStatus);
}

void TAxIcmp::DoError(int Code, const QString& Msg) {
    const std::shared_ptr<bool> alive = AliveToken();
    emit Failed(Code, Msg);
    if (!*alive)
        return;
    if (TError handler = OnError) {
        handler(this, Code, Msg);
        return;
    }
    platform::Messages().Information(QStringLiteral("Ping Error ") + QString::number(Code) +
                                     QStringLiteral(": ") + Msg);
}
