#pragma once

#include "platform/AsyncEcho.h"

#include <QObject>
#include <memory>

namespace paths {

// Where a path watch sends its echo requests: one request with a given TTL,
// its outcome handed to done. An implementation calls done exactly once per
// Send, on the thread that owns the watch, never from within Send, and only
// with answers to that very request (a router's report quoting it, or the
// target's reply); an outcome that arrives after the watch is gone is the
// watch's worry, not the sender's.
class EchoSender {
public:
    using Target = platform::AsyncEcho::Target;
    using Options = platform::AsyncEcho::Options;
    using Outcome = platform::AsyncEcho::Outcome;
    using Done = platform::AsyncEcho::Done;

    virtual ~EchoSender() = default;
    virtual void Send(const Target& target, const Options& options, Done done) = 0;
};

// The event-loop echo path (platform::AsyncEcho) as a sender, with an engine
// of its own. Destroying it drops its requests in flight without a call.
class AsyncEchoSender : public EchoSender {
public:
    AsyncEchoSender();
    void Send(const Target& target, const Options& options, Done done) override;
    platform::AsyncEcho& Engine() { return *FEcho; }

private:
    std::unique_ptr<platform::AsyncEcho> FEcho;
};

} // namespace paths
