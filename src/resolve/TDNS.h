#pragma once

#include "platform/Events.h"
#include "platform/WinSock.h"
#include "platform/WindowMessage.h"
#include "resolve/TWSMode.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

// The message that carries the reply of an asynchronous lookup.
constexpr unsigned WM_ASYNCLOOKUP = platform::WM_USER + 312;

// The resolver's own error codes.
constexpr int DnsErrBusy = static_cast<int>(0x80000000u);
constexpr int DnsErrCancelled = static_cast<int>(0x80000001u);
constexpr int DnsErrNoAddress = static_cast<int>(0x80000002u);

// Turns one target text into an address and a host name: a name is looked
// up forward, a dotted or IPv6 address in reverse. The lookup runs inline
// (wsmBlocking) or as an asynchronous request of the socket library whose
// reply arrives as a message to the resolver's window (wsmAsync). Either way
// its end, successful or not, is reported through one OnResolved.
//
// The resolver receives the replies of asynchronous lookups as messages, as
// a window would; it takes them once it has a parent widget (its "window"),
// and an asynchronous lookup without one runs blocking. It is no widget
// itself, so a program without a display can resolve. The owner, given to
// the constructor, is the component that destroys it.
class TDNS : public QObject {
    Q_OBJECT
public:
    explicit TDNS(QObject* AOwner);
    ~TDNS() override;

    QObject* Owner() const { return FOwner; }

    TWSMode Mode() const { return FMode; }
    void SetMode(TWSMode Value) { FMode = Value; }
    // The name service this resolver asks; null (the default) asks the one
    // in use.
    void SetNameService(std::shared_ptr<platform::NameService> Names) { FNames = std::move(Names); }

    std::uint32_t Addr() const { return FAddr; }
    // The family of the target: AfInet, or AfInet6 with the address in Addr6
    // (Addr is then -1). An IPv6 text is looked up in reverse like a dotted
    // one; a name may resolve to either family.
    int Family() const { return FFamily; }
    const TIpv6Address& Addr6() const { return FAddr6; }
    const QString& HostName() const { return FHostName; }
    const QString& HostAddress() const { return FHostAddress; }
    int ErrorCode() const { return FErrorCode; }
    const QString& ErrorText() const { return FErrorText; }
    // A lookup has been started and its end not yet reported.
    bool Busy() const { return FBusy; }

    TNotifyEvent OnResolved;

    void Lookup(const QString& Host);
    // Ends a running asynchronous lookup; nothing in blocking mode or idle.
    void Cancel();

protected:
    bool event(QEvent* e) override;
    void WMAsyncLookup(std::uintptr_t wParam, std::intptr_t lParam);

private:
    // Makes sure the window exists; false when it cannot (no parent).
    bool HandleNeeded();
    void BlockingLookup(const QByteArray& Host);
    void AsyncLookup(const QByteArray& Host);
    void TakeHostEntry(const platform::hostent* Entry);
    void SetError(int Code);
    void DoResolved();
    void FinishLookup();

    QObject* FOwner;
    std::uint32_t FAddr = platform::InaddrNone;
    int FFamily = platform::AfInet;
    TIpv6Address FAddr6;
    TWSMode FMode = wsmBlocking;
    std::shared_ptr<platform::NameService> FNames;
    QString FHostName;
    QString FHostAddress;
    QString FErrorText;
    int FErrorCode = 0;
    bool FBusy = false;
    bool FHandleAllocated = false;
    std::unique_ptr<char[]> FReplyBuffer;
    platform::AsyncHandle FTaskHandle = 0;
    std::shared_ptr<bool> FAlive;
};
