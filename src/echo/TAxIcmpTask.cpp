#include "echo/TAxIcmpTask.h"

#include "echo/IcmpBinding.h"
#include "platform/WinSock.h"
#include "platform/WindowThread.h"
#include "resolve/TDNS.h"

namespace {

// The resolver's answers for a dotted address that has no name.
bool IsMissingName(int Code) {
    return Code >= platform::wsa::WSAHOST_NOT_FOUND && Code <= platform::wsa::WSANO_DATA;
}

} // namespace

TAxIcmpTask::TAxIcmpTask(QObject* AOwner) : TAxIcmp(AOwner) {
    FResolver = new TDNS(this);
    // The resolver's asynchronous replies need a window: the owner's.
    if (AOwner != nullptr && AOwner->isWidgetType())
        FResolver->setParent(AOwner);
}

TAxIcmpTask::~TAxIcmpTask() {
    delete FResolver.data();
}

void TAxIcmpTask::Start(const QString& Target) {
    std::shared_ptr<bool> alive = AliveToken();
    QString entryError;
    const std::optional<platform::ProbeEntry> entry =
        platform::ParseProbeEntry(Target, &entryError);
    if (!entry) {
        DoError(ErrBadEntry, entryError);
        return;
    }
    // A port probe needs no ICMP service: only a plain entry asks for it.
    if (entry->kind == platform::ProbeKind::Icmp && !IcmpAvailable()) {
        DoError(ErrNoHandle, QStringLiteral("ICMP disabled: Winsock or icmp.dll not found"));
        if (*alive)
            Finish();
        return;
    }
    if (FBusy) {
        DoError(ErrInProgress, QStringLiteral("Already in Progress"));
        return;
    }
    FBusy = true;
    FCancelled = false;
    FStatus = 0;
    FStatusText.clear();
    FResolver->SetMode(FMode);
    FResolver->OnResolved = [this](QObject* Sender) { Resolved(Sender); };
    SetProbe(entry->kind, entry->port);
    FResolving = true;
    FResolver->Lookup(entry->host);
}

void TAxIcmpTask::Resolved(QObject*) {
    std::shared_ptr<bool> alive = AliveToken();
    FResolving = false;
    if (FResolver->Family() == platform::AfInet6)
        SetTargetAddress6(FResolver->Addr6());
    else
        SetTargetAddress(FResolver->Addr());
    FHostName = FResolver->HostName();
    FHostAddress = FResolver->HostAddress();
    FStatus = FResolver->ErrorCode();
    FStatusText = FResolver->ErrorText();
    // A dotted address without a name is still a target: it stands for
    // itself.
    const bool ipv6 = FTargetFamily == platform::AfInet6;
    if (IsMissingName(FStatus) && (ipv6 || FTargetAddress != platform::InaddrNone)) {
        FHostAddress = ipv6 ? QString::fromStdString(platform::inet_ntoa6(FTargetAddress6))
                            : QString::fromLatin1(platform::inet_ntoa(FTargetAddress));
        FHostName = FHostAddress;
        FStatus = 0;
        FStatusText.clear();
    }
    if (FStatus == 0) {
        BeginRun();
    } else {
        DoError(FStatus, FStatusText);
        if (*alive)
            FBusy = false;
    }
    // Let the window breathe while the run goes on. A run that has already
    // ended needs no more: its resolver is still inside this event, and a
    // Start handled now would find it busy.
    if (*alive && FBusy)
        platform::ProcessMessages();
}

void TAxIcmpTask::EchoDone() {
    std::shared_ptr<bool> alive = AliveToken();
    // A cancel clicked during the echo is seen before its result.
    platform::ProcessMessages();
    if (!*alive)
        return;
    if (!CheckStatus()) {
        StopEchoes();
        DoError(FStatus, FStatusText);
        if (*alive)
            FBusy = false;
        return;
    }
    SetReplyNames();
    CountReply();
    DoData();
    if (!*alive)
        return;
    if (!FCancelled && NextEcho()) {
        SendEcho();
        return;
    }
    StopEchoes();
    Finish();
}

void TAxIcmpTask::SetReplyNames() {
    if (FTargetFamily == platform::AfInet6) {
        SetReplyNames6();
        return;
    }
    if (FReply.Address == NoAddress) {
        FReplyAddress = FHostAddress;
        FReplyName = FHostName;
        return;
    }
    FReplyAddress = QString::fromLatin1(platform::inet_ntoa(FReply.Address));
    FReplyName = FReplyAddress;
    if (!FResolve)
        return;
    std::uint32_t address = FReply.Address;
    const platform::hostent* entry = platform::gethostbyaddr(
        FNames, reinterpret_cast<const char*>(&address), 4, platform::AfInet);
    if (entry != nullptr)
        FReplyName = QString::fromUtf8(entry->h_name);
}

void TAxIcmpTask::CountReply() {
    if (FCancelled)
        FStatus = ErrCancelled;
}

bool TAxIcmpTask::NextEcho() {
    return false;
}

void TAxIcmpTask::Finish() {
    std::shared_ptr<bool> alive = AliveToken();
    emit Finished();
    if (*alive)
        FireEvent(OnFinished, this);
    if (*alive)
        FBusy = false;
}

void TAxIcmpTask::SetAhead(std::shared_ptr<platform::NameService> Names,
                           std::function<std::optional<TSentAhead>(const TEchoTarget&)> Take) {
    FNames = std::move(Names);
    if (FResolver)
        FResolver->SetNameService(FNames);
    TakeSentAhead = std::move(Take);
}

void TAxIcmpTask::Cancel() {
    FCancelled = true;
    SendNoMore();
    // Once the target is resolved the resolver has nothing left to cancel,
    // even while it is still inside its OnResolved: asking it would report
    // a failed cancel as a second end of the lookup.
    if (FResolving && FResolver)
        FResolver->Cancel();
}

void TAxIcmpTask::SetReplyNames6() {
    if (!HasReply6()) {
        FReplyAddress = FHostAddress;
        FReplyName = FHostName;
        return;
    }
    FReplyAddress = QString::fromStdString(platform::inet_ntoa6(FReply6.Address));
    FReplyName = FReplyAddress;
    if (!FResolve)
        return;
    const platform::hostent* entry = platform::gethostbyaddr(
        FNames, reinterpret_cast<const char*>(FReply6.Address.Bytes), 16, platform::AfInet6);
    if (entry != nullptr)
        FReplyName = QString::fromUtf8(entry->h_name);
}
