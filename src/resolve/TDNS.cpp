#include "resolve/TDNS.h"

#include "platform/Component.h"
#include "platform/WindowMessage.h"
#include "resolve/WSExtra.h"

#include <cstring>

TDNS::TDNS(QObject* AOwner)
    : QObject(nullptr), FOwner(AOwner), FAlive(std::make_shared<bool>(true)) {
    if (!platform::IsDesigning(this) && !platform::IsDesigning(AOwner))
        StartSocketLibrary(this);
}

TDNS::~TDNS() {
    *FAlive = false;
    // A late reply must find nobody: cancel the request, which also gives
    // its buffer back to us.
    if (FBusy && FTaskHandle != 0)
        platform::WSACancelAsyncRequest(FTaskHandle);
    FReplyBuffer.reset();
    StopSocketLibrary(this);
}

bool TDNS::HandleNeeded() {
    if (!FHandleAllocated && parent() != nullptr && parent()->isWidgetType())
        FHandleAllocated = true;
    return FHandleAllocated;
}

void TDNS::Lookup(const QString& Host) {
    FHostAddress.clear();
    FHostName.clear();
    FAddr = platform::InaddrNone;
    FFamily = platform::AfInet;
    FAddr6 = TIpv6Address{};
    FErrorCode = 0;
    if (FMode == wsmAsync && !HandleNeeded())
        FMode = wsmBlocking;
    if (FBusy) {
        FErrorCode = DnsErrBusy;
        FErrorText = QStringLiteral("Lookup already in progress");
        DoResolved();
        return;
    }
    if (Host.isEmpty()) {
        FErrorCode = DnsErrNoAddress;
        FErrorText = QStringLiteral("No Address Specified");
        FinishLookup();
        return;
    }
    FBusy = true;
    QByteArray text = Host.toUtf8();
    // The library takes zero-terminated texts: one with a zero inside would
    // be cut short and name another host.
    if (text.contains('\0')) {
        SetError(platform::wsa::WSAHOST_NOT_FOUND);
        FinishLookup();
        return;
    }
    FAddr = platform::inet_addr(text.constData());
    if (FAddr == platform::InaddrNone && platform::inet_addr6(text.constData(), FAddr6))
        FFamily = platform::AfInet6;
    if (FMode == wsmAsync)
        AsyncLookup(text);
    else
        BlockingLookup(text);
}

void TDNS::BlockingLookup(const QByteArray& Host) {
    const platform::hostent* entry = nullptr;
    if (FFamily == platform::AfInet6) {
        entry = platform::gethostbyaddr(FNames, reinterpret_cast<const char*>(FAddr6.Bytes), 16,
                                        platform::AfInet6);
    } else if (FAddr == platform::InaddrNone) {
        entry = platform::gethostbyname(FNames, Host.constData());
    } else {
        std::uint32_t address = FAddr;
        entry = platform::gethostbyaddr(FNames, reinterpret_cast<const char*>(&address), 4,
                                        platform::AfInet);
    }
    if (entry == nullptr)
        SetError(platform::WSAGetLastError());
    if (FErrorCode == 0)
        TakeHostEntry(entry);
    FinishLookup();
}

void TDNS::AsyncLookup(const QByteArray& Host) {
    FReplyBuffer = std::make_unique<char[]>(platform::MAXGETHOSTSTRUCT);
    if (FFamily == platform::AfInet6) {
        FTaskHandle = platform::WSAAsyncGetHostByAddr(
            FNames, this, WM_ASYNCLOOKUP, reinterpret_cast<const char*>(FAddr6.Bytes), 16,
            platform::AfInet6, FReplyBuffer.get(), platform::MAXGETHOSTSTRUCT);
    } else if (FAddr == platform::InaddrNone) {
        FTaskHandle =
            platform::WSAAsyncGetHostByName(FNames, this, WM_ASYNCLOOKUP, Host.constData(),
                                            FReplyBuffer.get(), platform::MAXGETHOSTSTRUCT);
    } else {
        std::uint32_t address = FAddr;
        FTaskHandle = platform::WSAAsyncGetHostByAddr(
            FNames, this, WM_ASYNCLOOKUP, reinterpret_cast<const char*>(&address), 4,
            platform::AfInet, FReplyBuffer.get(), platform::MAXGETHOSTSTRUCT);
    }
    if (FTaskHandle == 0) {
        SetError(platform::WSAGetLastError());
        FReplyBuffer.reset();
        FinishLookup();
    }
}

bool TDNS::event(QEvent* e) {
    if (e->type() == static_cast<QEvent::Type>(WM_ASYNCLOOKUP)) {
        auto* message = static_cast<platform::WindowMessage*>(e);
        WMAsyncLookup(message->wParam, message->lParam);
        return true;
    }
    return QObject::event(e);
}

void TDNS::WMAsyncLookup(std::uintptr_t, std::intptr_t lParam) {
    // A reply without a running lookup has nowhere to go.
    if (!FReplyBuffer)
        return;
    FTaskHandle = 0;
    FErrorCode = static_cast<int>((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFF);
    if (FErrorCode != 0)
        FErrorText = SocketErrorText(FErrorCode);
    else
        TakeHostEntry(reinterpret_cast<const platform::hostent*>(FReplyBuffer.get()));
    FReplyBuffer.reset();
    FinishLookup();
}

void TDNS::TakeHostEntry(const platform::hostent* Entry) {
    if (Entry->h_addrtype == platform::AfInet6) {
        // A reverse lookup keeps the zone of the text; a name has none.
        std::uint32_t scope = FFamily == platform::AfInet6 ? FAddr6.ScopeId : 0;
        FFamily = platform::AfInet6;
        FAddr = platform::InaddrNone;
        std::memcpy(FAddr6.Bytes, Entry->h_addr_list[0], 16);
        FAddr6.ScopeId = scope;
        FHostName = QString::fromUtf8(Entry->h_name);
        FHostAddress = QString::fromStdString(platform::inet_ntoa6(FAddr6));
        return;
    }
    FFamily = platform::AfInet;
    std::memcpy(&FAddr, Entry->h_addr_list[0], 4);
    FHostName = QString::fromUtf8(Entry->h_name);
    FHostAddress = QString::fromLatin1(platform::inet_ntoa(FAddr));
}

void TDNS::SetError(int Code) {
    FErrorCode = Code;
    FErrorText = SocketErrorText(Code);
}

void TDNS::Cancel() {
    if (FMode != wsmAsync || !FBusy)
        return;
    if (platform::WSACancelAsyncRequest(FTaskHandle) == 0) {
        FErrorText = QStringLiteral("Cancelled Asynchronous lookup");
        FErrorCode = DnsErrCancelled;
        FReplyBuffer.reset();
        FTaskHandle = 0;
    } else {
        SetError(platform::WSAGetLastError());
    }
    FinishLookup();
}

void TDNS::DoResolved() {
    FireEvent(OnResolved, this);
}

void TDNS::FinishLookup() {
    std::shared_ptr<bool> alive = FAlive;
    DoResolved();
    if (*alive)
        FBusy = false;
}
