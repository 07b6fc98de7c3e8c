#pragma once

#include "echo/EchoCodes.h"
#include "platform/IcmpTypes.h"
#include "platform/PortProbes.h"
#include "platform/ProbeEntry.h"
#include "platform/WinSock.h"
#include "resolve/TWSMode.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class PortEcho;
class TPingThread;

// Event types of the echo components; the sender comes first, and an empty
// handler means the event is not assigned.
using TError = std::function<void(QObject* Sender, int Error, const QString& Msg)>;
using TDataRt = std::function<void(QObject* Sender, int Status)>;

// A request to one address that was sent before a component asked for it
// (a Check All's runs ahead): either still on its way, or already ended.
struct TSentAhead {
    std::shared_ptr<TPingThread> Thread; // on its way; empty once it has ended
    // A port probe on its way: takes the completion that writes the
    // outcome; empty for an echo request or once the probe has ended.
    std::function<void(std::function<void(const platform::PortProbes::Outcome&)>)> Port;
    platform::PortAnswer Answer = platform::PortAnswer::None; // of an ended port probe
    int Status = 0;                                           // the outcome of an ended request
    TEchoReply Reply;   // as a fresh request leaves it when none came
    TEcho6Reply Reply6; // the IPv6 reply of an ended IPv6 request
};

// Where a component's echo goes: the family and the address of that family
// (an IPv6 one with its scope), and for a port probe its kind and port.
struct TEchoTarget {
    int Family = platform::AfInet;
    std::uint32_t Address = NoAddress;
    TIpv6Address Address6;
    platform::ProbeKind Kind = platform::ProbeKind::Icmp;
    std::uint16_t Port = 0;
};

// The root of the echo components: request parameters, the destination and
// the result of the last echo request. Issues one request at a time, on a
// worker thread of its own or inline, and completes it on the window thread
// with the data or the error event.
class TAxIcmp : public QObject {
    Q_OBJECT
public:
    explicit TAxIcmp(QObject* AOwner);
    ~TAxIcmp() override;

    TWSMode Mode() const { return FMode; }
    void SetMode(TWSMode Value) { FMode = Value; }
    int PacketSize() const { return FPacketSize; }
    // Values below 8 become 8; there is no upper bound.
    void SetPacketSize(int Value);
    std::uint16_t TimeOut() const { return FTimeOut; }
    void SetTimeOut(std::uint16_t Value) { FTimeOut = Value; }
    std::uint8_t TimeToLive() const { return FTimeToLive; }
    void SetTimeToLive(std::uint8_t Value) { FTimeToLive = Value; }

    int Status() const { return FStatus; }
    const QString& StatusText() const { return FStatusText; }
    std::uint32_t TargetAddress() const { return FTargetAddress; }
    void SetTargetAddress(std::uint32_t Value) {
        FTargetAddress = Value;
        FTargetFamily = platform::AfInet;
    }
    // The destination's family: AfInet, or AfInet6 with the address in
    // TargetAddress6 (TargetAddress is then NoAddress).
    int TargetFamily() const { return FTargetFamily; }
    const TIpv6Address& TargetAddress6() const { return FTargetAddress6; }
    void SetTargetAddress6(const TIpv6Address& Value) {
        FTargetAddress6 = Value;
        FTargetAddress = NoAddress;
        FTargetFamily = platform::AfInet6;
    }
    // For an IPv6 request Reply holds the status, times, size and options of
    // the reply, and Reply6 also the address of the node that answered.
    const TEchoReply& Reply() const { return FReply; }
    const TEcho6Reply& Reply6() const { return FReply6; }
    // An IPv6 reply was copied by the last request (its Reply.Address is 0).
    bool HasReply6() const;
    const TIpOptions& Options() const { return FOptions; }
    // What the echoes are: ICMP echo requests, or probes of one TCP or UDP
    // port (PortEcho) whose outcome fills Status and Reply as an echo's.
    platform::ProbeKind ProbeKind() const { return FProbeKind; }
    std::uint16_t ProbePort() const { return FProbePort; }
    void SetProbe(platform::ProbeKind Kind, std::uint16_t Port) {
        FProbeKind = Kind;
        FProbePort = Kind == platform::ProbeKind::Icmp ? 0 : Port;
    }
    // What answered the last port probe.
    platform::PortAnswer PortAnswer() const { return FPortAnswer; }
    // The component's port probes in flight; a look-ahead sends its own
    // there, so that they live as long as the component that may take
    // them over.
    PortEcho& Ports();

    // Fired after each completed echo with the status code. The signal Data
    // comes first, for observers that must not take the event from its owner.
    TDataRt OnData;
    // Fired with a code and a text when an echo or a run fails, after the
    // signal Failed.
    TError OnError;
    // Asked by SendEcho in wsmAsync mode for a request to TargetAddress that
    // is already on its way; the echo then completes with that request
    // instead of sending another. Unassigned: every echo is sent.
    std::function<std::optional<TSentAhead>(const TEchoTarget& Target)> TakeSentAhead;

signals:
    // Beside OnData and OnError, for any number of observers; each fires
    // just before its event, on the window thread.
    void Data(int Status);
    void Failed(int Error, const QString& Msg);

public:
    // Issues one echo request to TargetAddress. With wsmAsync it returns at
    // once and EchoDone follows on the window thread; with wsmBlocking
    // EchoDone has run before it returns.
    void SendEcho();
    virtual void ClearReply();
    // The completion of one request, on the window thread.
    virtual void EchoDone();
    // Sorts Status, sets StatusText, and tells whether the request produced
    // an ICMP result (true) or failed (false).
    bool CheckStatus();
    void DoData();
    void DoError(int Code, const QString& Msg);

protected:
    // Starts a worker for one request with the current parameters; its
    // completion writes Status and Reply and then calls onTerminate. The
    // request is cut off from this component if it is destroyed first.
    // With Count above 1 the worker sends that many requests, one after
    // the other (a series): the SendEcho of each completion then sends
    // nothing, the next result being on its way already.
    void StartPingThread(std::function<void()> onTerminate, int Count = 1);
    // Ends the request or series in flight: nothing more completes.
    void StopEchoes();
    // A series in flight sends nothing after its current request, which
    // still completes.
    void SendNoMore();
    // The requests a run still sends with the current parameters, counting
    // the one being sent now; more than one lets them go as a series.
    virtual int EchoesLeft() const { return 1; }
    // Makes a worker this component's request in flight.
    void RunPingThread(const std::shared_ptr<TPingThread>& thread,
                       std::function<void()> onTerminate);
    // Turns false when the component is destroyed; lets code that fired an
    // event or processed messages see whether it may go on.
    std::shared_ptr<bool> AliveToken() const { return FAlive; }

    std::uint32_t FTargetAddress = NoAddress;
    TIpOptions FOptions;
    QString FStatusText;
    TWSMode FMode = wsmAsync;
    int FPacketSize = 56;
    std::uint16_t FTimeOut = 2500;
    std::uint8_t FTimeToLive = 32;
    int FStatus = 0;
    TEchoReply FReply;
    int FTargetFamily = platform::AfInet;
    TIpv6Address FTargetAddress6;
    TEcho6Reply FReply6;
    platform::ProbeKind FProbeKind = platform::ProbeKind::Icmp;
    std::uint16_t FProbePort = 0;
    platform::PortAnswer FPortAnswer = platform::PortAnswer::None;

private:
    void RunInline();
    void SendPortProbe();
    void PortProbeDone(const platform::PortProbes::Outcome& Outcome);
    void AdoptSentAhead(const TSentAhead& Ahead);

    std::shared_ptr<TPingThread> FThread;
    std::unique_ptr<PortEcho> FPortEcho;
    // Blocking mode: a request issued from inside a completion waits for the
    // running one to return, so that a long run is a loop, not a recursion.
    bool FInlineActive = false;
    bool FInlinePending = false;
    std::shared_ptr<bool> FAlive;
};
