#include "echo/TLookAhead.h"

#include "echo/IcmpBinding.h"
#include "echo/PortEcho.h"
#include "echo/TAxIcmpTask.h"
#include "echo/TPingThread.h"
#include "platform/NameService.h"
#include "platform/WindowMessage.h"

#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// The reply of one of the look-ahead's own lookups.
constexpr unsigned WM_AHEADLOOKUP = platform::WM_USER + 313;

// Socket error codes: a local failure of one request, which the component
// is left to meet on its own turn rather than being handed a stale one.
bool IsLocalFailure(int Status) {
    return Status == ErrNoHandle || (Status >= 10000 && Status <= 11000);
}

} // namespace

// A port probe sent ahead: its outcome goes to the component that took it
// over, or else back to the look-ahead while that lives.
struct PortSlot {
    std::function<void(const platform::PortProbes::Outcome&)> takenBy;
};

// The name service of the look-ahead and of its component while it lives:
// every question is put to the service in use once, and whoever asks it
// again, on any thread, waits for and shares that answer. So the
// component's resolver, at an entry's turn, finds at once what the
// look-ahead asked for it earlier.
class TLookAhead::Answers final : public platform::NameService {
public:
    explicit Answers(std::shared_ptr<platform::NameService> Inner) : FInner(std::move(Inner)) {}

    int ByName(const std::string& Name, platform::HostRecord& Record) override {
        return Ask(FByName, Name, Record,
                   [&](platform::HostRecord& r) { return FInner->ByName(Name, r); });
    }
    int ByAddr(std::uint32_t Address, platform::HostRecord& Record) override {
        return Ask(FByAddr, Address, Record,
                   [&](platform::HostRecord& r) { return FInner->ByAddr(Address, r); });
    }
    int ByAddr6(const std::array<std::uint8_t, 16>& Address, std::uint32_t Scope,
                platform::HostRecord& Record) override {
        return Ask(FByAddr6, std::pair(Address, Scope), Record,
                   [&](platform::HostRecord& r) { return FInner->ByAddr6(Address, Scope, r); });
    }

    // Answers already found are given at once, without a lookup worker.
    bool HeldByName(const std::string& Name, int& Code, platform::HostRecord& Record) override {
        return Held(FByName, Name, Code, Record) || FInner->HeldByName(Name, Code, Record);
    }
    bool HeldByAddr(std::uint32_t Address, int& Code, platform::HostRecord& Record) override {
        return Held(FByAddr, Address, Code, Record) || FInner->HeldByAddr(Address, Code, Record);
    }
    bool HeldByAddr6(const std::array<std::uint8_t, 16>& Address, std::uint32_t Scope, int& Code,
                     platform::HostRecord& Record) override {
        return Held(FByAddr6, std::pair(Address, Scope), Code, Record) ||
               FInner->HeldByAddr6(Address, Scope, Code, Record);
    }

private:
    struct Answer {
        bool done = false;
        int code = 0;
        platform::HostRecord record;
    };

    template <typename Key>
    bool Held(const std::map<Key, std::shared_ptr<Answer>>& Known, const Key& Question, int& Code,
              platform::HostRecord& Record) {
        std::lock_guard lock(FMutex);
        const auto it = Known.find(Question);
        if (it == Known.end() || !it->second || !it->second->done)
            return false;
        Code = it->second->code;
        Record = it->second->record;
        return true;
    }

    template <typename Key, typename Lookup>
    int Ask(std::map<Key, std::shared_ptr<Answer>>& Known, const Key& Question,
            platform::HostRecord& Record, Lookup lookup) {
        std::unique_lock lock(FMutex);
        std::shared_ptr<Answer>& slot = Known[Question];
        if (slot) {
            std::shared_ptr<Answer> answer = slot;
            FAnswered.wait(lock, [&] { return answer->done; });
            Record = answer->record;
            return answer->code;
        }
        slot = std::make_shared<Answer>();
        std::shared_ptr<Answer> answer = slot;
        lock.unlock();
        platform::HostRecord found;
        const int code = lookup(found);
        lock.lock();
        answer->code = code;
        answer->record = found;
        answer->done = true;
        FAnswered.notify_all();
        Record = std::move(found);
        return code;
    }

    std::shared_ptr<platform::NameService> FInner;
    std::mutex FMutex;
    std::condition_variable FAnswered;
    std::map<std::string, std::shared_ptr<Answer>> FByName;
    std::map<std::uint32_t, std::shared_ptr<Answer>> FByAddr;
    std::map<std::pair<std::array<std::uint8_t, 16>, std::uint32_t>, std::shared_ptr<Answer>>
        FByAddr6;
};

namespace {

bool SameAddress6(const TIpv6Address& A, const TIpv6Address& B) {
    return A.ScopeId == B.ScopeId && std::memcmp(A.Bytes, B.Bytes, sizeof A.Bytes) == 0;
}

bool IsUnspecified(const TIpv6Address& A) {
    for (std::uint8_t byte : A.Bytes)
        if (byte != 0)
            return false;
    return true;
}

} // namespace

struct TLookAhead::Run {
    enum class State { Waiting, Resolving, Ready, Sending, Ended, Dropped };
    Run() { reply.Address = NoAddress; }

    State state = State::Waiting;
    // Where the echo goes: an IPv4 address, or an IPv6 one with its scope.
    int family = platform::AfInet;
    std::uint32_t address = NoAddress;
    TIpv6Address address6;
    // The entry's probe: an echo request, or TCP or UDP to a port.
    platform::ProbeKind kind = platform::ProbeKind::Icmp;
    std::uint16_t port = 0;
    platform::PortAnswer answer = platform::PortAnswer::None;
    // The port probe in flight.
    std::shared_ptr<PortSlot> portSlot;
    // The worker of the echo in flight; it writes status and reply.
    std::shared_ptr<TPingThread> thread;
    int status = 0;
    TEchoReply reply;
    TEcho6Reply reply6;
    platform::AsyncHandle lookup = 0; // the target's lookup
    std::unique_ptr<char[]> lookupBuffer;
    platform::AsyncHandle replyLookup = 0; // the name of the node that answered
    std::unique_ptr<char[]> replyBuffer;
    int pending = 0; // lookups and echo outstanding
};

TLookAhead::TLookAhead(TAxIcmpTask* Component, const QStringList& Targets, int First,
                       QObject* Parent)
    : QObject(Parent), FComponent(Component), FTargets(Targets) {
    FRuns.reserve(static_cast<std::size_t>(Targets.size()));
    for (qsizetype i = 0; i < Targets.size(); ++i)
        FRuns.push_back(std::make_unique<Run>());
    FOptions = Component->Options();
    FOptions.Ttl = Component->TimeToLive();
    FPacketSize = Component->PacketSize();
    FTimeOut = Component->TimeOut();
    FResolve = Component->Resolve();
    FNextLookup = First;
    FReachedAt = std::chrono::steady_clock::now();
    // Without the echo service the component fails every plain entry on
    // its own; entries that name a port need none.
    FIcmp = IcmpAvailable();
    FAnswers = std::make_shared<Answers>(platform::CurrentNameService());
    Component->SetAhead(FAnswers, [this](const TEchoTarget& Target) { return Take(Target); });
    FPace.setTimerType(Qt::PreciseTimer);
    FPace.setInterval(1);
    connect(&FPace, &QTimer::timeout, this, [this] { Tick(); });
    FPace.start();
    Tick();
}

TLookAhead::~TLookAhead() {
    Stop();
    // Lookups still on their way keep the cache they started with.
    if (FComponent && FAnswers)
        FComponent->SetAhead(nullptr, nullptr);
}

void TLookAhead::Stop() {
    FStopped = true;
    FPace.stop();
    FArmed = -1;
    FReady.clear();
    for (const auto& [handle, index] : FLookups)
        platform::WSACancelAsyncRequest(handle);
    FLookups.clear();
    for (std::unique_ptr<Run>& r : FRuns) {
        if (r->thread)
            r->thread->Detach();
        r->thread.reset();
        r->portSlot.reset();
        r->lookup = 0;
        r->replyLookup = 0;
        r->lookupBuffer.reset();
        r->replyBuffer.reset();
        r->pending = 0;
        if (r->state != Run::State::Ended)
            r->state = Run::State::Dropped;
    }
    FInFlight = 0;
}

void TLookAhead::Reached(int Index) {
    FReachedAt = std::chrono::steady_clock::now();
    FCurrent = Index;
    FArmed = Index;
    FReady.erase(FReady.begin(), FReady.upper_bound(Index));
}

void TLookAhead::Tick() {
    if (FStopped || std::chrono::steady_clock::now() - FReachedAt < std::chrono::milliseconds(1))
        return;
    StartLookup();
    StartEcho();
    if (FNextLookup >= static_cast<int>(FRuns.size()) && FReady.empty())
        FPace.stop();
}

bool TLookAhead::Due(std::chrono::steady_clock::time_point& Last) {
    const auto now = std::chrono::steady_clock::now();
    if (now - Last < std::chrono::milliseconds(1))
        return false;
    Last = now;
    return true;
}

void TLookAhead::Begin(Run& R) {
    if (R.pending++ == 0)
        ++FInFlight;
}

void TLookAhead::End(Run& R) {
    if (R.pending > 0 && --R.pending == 0)
        --FInFlight;
}

// The lookup that the component's resolver will make for the next entry:
// forward for a name, in reverse for a dotted address.
void TLookAhead::StartLookup() {
    FNextLookup = std::max(FNextLookup, FCurrent + 1);
    if (FNextLookup >= static_cast<int>(FRuns.size()) || FInFlight >= MaxInFlight ||
        !Due(FLastLookup))
        return;
    const int index = FNextLookup++;
    Run& r = *FRuns[static_cast<std::size_t>(index)];
    const std::optional<platform::ProbeEntry> entry = platform::ParseProbeEntry(FTargets[index]);
    if (!entry || (entry->kind == platform::ProbeKind::Icmp && !FIcmp)) {
        r.state = Run::State::Dropped;
        return;
    }
    r.kind = entry->kind;
    r.port = entry->port;
    const QByteArray text = entry->host.toUtf8();
    // Texts that the resolver refuses without asking anybody.
    if (text.isEmpty() || text.contains('\0')) {
        r.state = Run::State::Dropped;
        return;
    }
    const std::uint32_t address = platform::inet_addr(text.constData());
    TIpv6Address address6;
    const bool ipv6 =
        address == platform::InaddrNone && platform::inet_addr6(text.constData(), address6);
    r.lookupBuffer = std::make_unique<char[]>(platform::MAXGETHOSTSTRUCT);
    if (ipv6) {
        r.lookup = platform::WSAAsyncGetHostByAddr(
            FAnswers, this, WM_AHEADLOOKUP, reinterpret_cast<const char*>(address6.Bytes), 16,
            platform::AfInet6, r.lookupBuffer.get(), platform::MAXGETHOSTSTRUCT);
    } else if (address == platform::InaddrNone) {
        r.lookup =
            platform::WSAAsyncGetHostByName(FAnswers, this, WM_AHEADLOOKUP, text.constData(),
                                            r.lookupBuffer.get(), platform::MAXGETHOSTSTRUCT);
    } else {
        r.lookup = platform::WSAAsyncGetHostByAddr(
            FAnswers, this, WM_AHEADLOOKUP, reinterpret_cast<const char*>(&address), 4,
            platform::AfInet, r.lookupBuffer.get(), platform::MAXGETHOSTSTRUCT);
    }
    if (r.lookup == 0) {
        r.lookupBuffer.reset();
        r.state = Run::State::Dropped;
        return;
    }
    FLookups[r.lookup] = index;
    Begin(r);
    if (address == platform::InaddrNone && !ipv6) {
        r.state = Run::State::Resolving;
        return;
    }
    // An address text is its own destination (an IPv6 one with the zone of
    // the text) whatever its name turns out to be: its echo need not wait
    // for the lookup.
    if (ipv6) {
        r.family = platform::AfInet6;
        r.address6 = address6;
    } else {
        r.address = address;
    }
    r.state = Run::State::Ready;
    FReady.insert(index);
}

void TLookAhead::StartEcho() {
    if (FReady.empty() || !Due(FLastEcho))
        return;
    const int index = *FReady.begin();
    FReady.erase(FReady.begin());
    Run& r = *FRuns[static_cast<std::size_t>(index)];
    if (r.kind != platform::ProbeKind::Icmp) {
        StartPortProbe(index);
        return;
    }
    r.thread =
        r.family == platform::AfInet6
            ? TPingThread::Create6(r.status, FOptions, r.address6, FPacketSize, FTimeOut, r.reply,
                                   r.reply6)
            : TPingThread::Create(r.status, FOptions, r.address, FPacketSize, FTimeOut, r.reply);
    if (r.thread->Terminated()) {
        // No socket to be had now: the component tries again on its turn.
        r.thread.reset();
        r.state = Run::State::Dropped;
        return;
    }
    r.thread->OnTerminate = [this, index] { EchoEnded(index); };
    r.state = Run::State::Sending;
    Begin(r);
    ++FSent;
    r.thread->Start();
}

void TLookAhead::StartPortProbe(int Index) {
    Run& r = *FRuns[static_cast<std::size_t>(Index)];
    if (!FComponent) {
        r.state = Run::State::Dropped;
        return;
    }
    auto slot = std::make_shared<PortSlot>();
    r.portSlot = slot;
    FComponent->Ports().Send(
        PortEcho::TargetOf(r.family, r.address, r.address6, r.kind, r.port), FOptions.Ttl, FTimeOut,
        [slot, self = QPointer<TLookAhead>(this), Index](const platform::PortProbes::Outcome& o) {
            if (slot->takenBy) {
                slot->takenBy(o);
                return;
            }
            if (!self)
                return;
            Run& run = *self->FRuns[static_cast<std::size_t>(Index)];
            // Dropped since (Stop): its outcome is of no use any more.
            if (run.portSlot != slot)
                return;
            run.portSlot.reset();
            PortEcho::Fill(o, run.family, run.status, run.reply, run.reply6);
            run.answer = o.answer;
            self->EchoEnded(Index);
        });
    r.state = Run::State::Sending;
    Begin(r);
    ++FSent;
}

void TLookAhead::EchoEnded(int Index) {
    Run& r = *FRuns[static_cast<std::size_t>(Index)];
    r.thread.reset();
    r.state = IsLocalFailure(r.status) ? Run::State::Dropped : Run::State::Ended;
    End(r);
    // The component looks up the name of the node that answered when it
    // shows the entry; ask for it now.
    if (r.state != Run::State::Ended || !FResolve || FStopped)
        return;
    const bool ipv6 = r.family == platform::AfInet6;
    if (ipv6 ? IsUnspecified(r.reply6.Address) : r.reply.Address == NoAddress)
        return;
    const std::uint32_t from = r.reply.Address;
    r.replyBuffer = std::make_unique<char[]>(platform::MAXGETHOSTSTRUCT);
    r.replyLookup = ipv6 ? platform::WSAAsyncGetHostByAddr(
                               FAnswers, this, WM_AHEADLOOKUP,
                               reinterpret_cast<const char*>(r.reply6.Address.Bytes), 16,
                               platform::AfInet6, r.replyBuffer.get(), platform::MAXGETHOSTSTRUCT)
                         : platform::WSAAsyncGetHostByAddr(FAnswers, this, WM_AHEADLOOKUP,
                                                           reinterpret_cast<const char*>(&from), 4,
                                                           platform::AfInet, r.replyBuffer.get(),
                                                           platform::MAXGETHOSTSTRUCT);
    if (r.replyLookup == 0) {
        r.replyBuffer.reset();
        return;
    }
    FLookups[r.replyLookup] = Index;
    Begin(r);
}

bool TLookAhead::event(QEvent* e) {
    if (e->type() != static_cast<QEvent::Type>(WM_AHEADLOOKUP))
        return QObject::event(e);
    auto* message = static_cast<platform::WindowMessage*>(e);
    LookupEnded(message->wParam, message->lParam);
    return true;
}

void TLookAhead::LookupEnded(std::uintptr_t Handle, std::intptr_t LParam) {
    const auto found = FLookups.find(Handle);
    if (found == FLookups.end())
        return;
    Run& r = *FRuns[static_cast<std::size_t>(found->second)];
    const int index = found->second;
    FLookups.erase(found);
    End(r);
    if (Handle == r.replyLookup) {
        r.replyLookup = 0;
        r.replyBuffer.reset();
        return;
    }
    r.lookup = 0;
    const int code = static_cast<int>((static_cast<std::uint32_t>(LParam) >> 16) & 0xFFFF);
    if (r.state == Run::State::Resolving) {
        // A name: its first address is where the component's echo goes (an
        // IPv6 one without a zone). A name that is not found makes no echo.
        const auto* entry = reinterpret_cast<const platform::hostent*>(r.lookupBuffer.get());
        const bool ipv4 =
            code == 0 && entry->h_addrtype == platform::AfInet && entry->h_length == 4;
        const bool ipv6 =
            code == 0 && entry->h_addrtype == platform::AfInet6 && entry->h_length == 16;
        if (ipv4 || ipv6) {
            if (ipv6) {
                r.family = platform::AfInet6;
                std::memcpy(r.address6.Bytes, entry->h_addr_list[0], 16);
                r.address6.ScopeId = 0;
            } else {
                std::memcpy(&r.address, entry->h_addr_list[0], 4);
            }
            r.state = Run::State::Ready;
            if (index > FCurrent && !FStopped) {
                FReady.insert(index);
                if (!FPace.isActive())
                    FPace.start();
            }
        } else {
            r.state = Run::State::Dropped;
        }
    }
    r.lookupBuffer.reset();
}

std::optional<TSentAhead> TLookAhead::Take(const TEchoTarget& Target) {
    if (FStopped || FArmed < 0 || FArmed >= static_cast<int>(FRuns.size()))
        return std::nullopt;
    Run& r = *FRuns[static_cast<std::size_t>(FArmed)];
    FArmed = -1;
    // The component resolved the entry to another address: its own echo
    // goes there.
    const bool same = Target.Family == r.family && Target.Kind == r.kind && Target.Port == r.port &&
                      (r.family == platform::AfInet6 ? SameAddress6(Target.Address6, r.address6)
                                                     : Target.Address == r.address);
    if (!same)
        return std::nullopt;
    TSentAhead ahead;
    switch (r.state) {
    case Run::State::Sending:
        if (r.portSlot) {
            ahead.Port = [slot = std::move(r.portSlot)](
                             std::function<void(const platform::PortProbes::Outcome&)> done) {
                slot->takenBy = std::move(done);
            };
            r.state = Run::State::Dropped;
            End(r);
            return ahead;
        }
        ahead.Thread = std::move(r.thread);
        r.state = Run::State::Dropped;
        End(r);
        return ahead;
    case Run::State::Ended:
        ahead.Status = r.status;
        ahead.Reply = r.reply;
        ahead.Reply6 = r.reply6;
        ahead.Answer = r.answer;
        r.state = Run::State::Dropped;
        return ahead;
    default:
        // Not sent yet (Reached took it off the queue): the component sends
        // it, and the look-ahead never.
        r.state = Run::State::Dropped;
        return std::nullopt;
    }
}
