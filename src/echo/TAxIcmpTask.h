#pragma once

#include "echo/TAxIcmp.h"
#include "platform/Events.h"

#include <QPointer>
#include <QString>

#include "resolve/TDNS.h"

// A run of echo requests to one target: the target text is resolved by the
// task's own resolver, then the derived component drives the requests
// through BeginRun, CountReply and NextEcho, with OnData after each echo and
// OnFinished at the end. Everything runs on the window thread; only the
// requests themselves run on workers.
class TAxIcmpTask : public TAxIcmp {
    Q_OBJECT
public:
    explicit TAxIcmpTask(QObject* AOwner);
    ~TAxIcmpTask() override;

    // Look up the name of every node that answers.
    bool Resolve() const { return FResolve; }
    void SetResolve(bool Value) { FResolve = Value; }

    const QString& HostName() const { return FHostName; }
    const QString& HostAddress() const { return FHostAddress; }
    const QString& ReplyName() const { return FReplyName; }
    const QString& ReplyAddress() const { return FReplyAddress; }
    bool Cancelled() const { return FCancelled; }
    bool Busy() const { return FBusy; }
    // The target's name is being looked up; a Cancel now ends the run as
    // a failed lookup.
    bool Resolving() const { return FResolving; }
    TDNS* Resolver() const { return FResolver.data(); }
    // What a look-ahead found before this component's turn: the names it
    // looked up (this component's resolver and reply names ask Names, null
    // for the name service in use) and the requests it sent (Take, see
    // TAxIcmp::TakeSentAhead). SetAhead(nullptr, nullptr) hands them back.
    void SetAhead(std::shared_ptr<platform::NameService> Names,
                  std::function<std::optional<TSentAhead>(const TEchoTarget&)> Take);

    // Fired once when a run ends normally or by cancellation, and when
    // Start finds the echo service disabled. Busy is still true meanwhile.
    TNotifyEvent OnFinished;

signals:
    // Just before OnFinished.
    void Finished();

public:
    // Begins a run for a host name or a dotted address. Returns at once in
    // wsmAsync mode; in wsmBlocking mode the run has ended when it returns.
    void Start(const QString& Target);
    // Asks the running run to stop; it ends at its next completion.
    void Cancel();

    void EchoDone() override;

protected:
    // Sends the first echo of a run, once the target is resolved.
    virtual void BeginRun() = 0;
    // Counts the echo just completed; marks it cancelled when asked to stop.
    virtual void CountReply();
    // Decides whether the run goes on with another echo.
    virtual bool NextEcho();
    virtual void Finish();

    void Resolved(QObject* Sender);
    void SetReplyNames();
    void SetReplyNames6();

    bool FBusy = false;
    bool FCancelled = false;
    // The run waits for its resolver: from Start until Resolved.
    bool FResolving = false;

private:
    QString FHostName;
    QString FHostAddress;
    bool FResolve = false;
    QString FReplyName;
    QString FReplyAddress;
    QPointer<TDNS> FResolver;
    std::shared_ptr<platform::NameService> FNames;
};
