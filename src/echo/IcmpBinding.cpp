#include "echo/IcmpBinding.h"

#include "platform/IcmpLibrary.h"
#include "platform/LastError.h"
#include "platform/Messages.h"
#include "platform/ProgramExit.h"

#include <QString>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Written only at start-up and at program end, while no request runs. Never
// destroyed: a program may return from main with the library loaded, and
// unloading it then, among the exit handlers, would reach the service's
// state after its own unit has torn it down. The system closes its sockets.
std::unique_ptr<platform::IcmpLibrary>& icmpLibrary = *new std::unique_ptr<platform::IcmpLibrary>;
platform::IcmpCreateFileFn createFileEntry;
platform::IcmpCloseHandleFn closeHandleEntry;
platform::IcmpSendEchoFn sendEchoEntry;
// The IPv6 calls: optional; without them IPv6 requests get no handle.
platform::IcmpCreateFileFn create6FileEntry;
platform::Icmp6SendEchoFn sendEcho6Entry;
bool icmpAvailable = false;
int icmpLoadCount = 0;
// The echo workers' gate (IcmpSetWorkerGate).
void (*workersWaitForAll)() = nullptr;
void (*workersAllowNew)() = nullptr;

constexpr int kAbortExitCode = 3;
constexpr int kMaxRequestSize = 0xFFFF;

void forgetEntries() {
    createFileEntry = nullptr;
    closeHandleEntry = nullptr;
    sendEchoEntry = nullptr;
    create6FileEntry = nullptr;
    sendEcho6Entry = nullptr;
}

void askAbortOrIgnore(const QString& text) {
    if (platform::Messages().ErrorAbortIgnore(text) == platform::MsgAnswer::Abort)
        platform::TerminateProgram(kAbortExitCode);
}

} // namespace

bool IcmpAvailable() {
    return icmpAvailable;
}
int IcmpLoadCount() {
    return icmpLoadCount;
}

void IcmpStartupBinding() {
    if (icmpLoadCount == 0) {
        icmpAvailable = true;
        platform::IcmpLibraryProvider& provider = platform::IcmpProvider();
        icmpLibrary = provider.Load("icmp.dll");
        if (!icmpLibrary) {
            icmpAvailable = false;
            QString text = QStringLiteral("Unable to find icmp.dll");
            QString reason = QString::fromStdString(provider.Reason());
            if (!reason.isEmpty())
                text += QLatin1Char('\n') + reason;
            askAbortOrIgnore(text);
        } else {
            createFileEntry = icmpLibrary->CreateFileEntry("IcmpCreateFile");
            closeHandleEntry = icmpLibrary->CloseHandleEntry("IcmpCloseHandle");
            sendEchoEntry = icmpLibrary->SendEchoEntry("IcmpSendEcho");
            create6FileEntry = icmpLibrary->CreateFileEntry("Icmp6CreateFile");
            sendEcho6Entry = icmpLibrary->SendEcho6Entry("Icmp6SendEcho");
            if (!createFileEntry || !closeHandleEntry || !sendEchoEntry) {
                icmpAvailable = false;
                forgetEntries();
                askAbortOrIgnore(QStringLiteral("Unable to load functions from icmp.dll"));
            }
        }
    }
    ++icmpLoadCount;
}

void IcmpSetWorkerGate(void (*waitForAll)(), void (*allowNew)()) {
    workersWaitForAll = waitForAll;
    workersAllowNew = allowNew;
}

void IcmpReleaseBinding() {
    if (icmpLoadCount <= 0)
        return;
    if (--icmpLoadCount > 0)
        return;
    // No worker may be left inside the library once it is gone: wake the
    // waiting requests and let every worker finish.
    if (icmpLibrary)
        icmpLibrary->InterruptRequests();
    if (workersWaitForAll)
        workersWaitForAll();
    icmpAvailable = false;
    forgetEntries();
    icmpLibrary.reset();
    if (workersAllowNew)
        workersAllowNew();
}

IcmpHandle IcmpCreateFile() {
    if (!icmpAvailable || !createFileEntry)
        return InvalidIcmpHandle;
    return createFileEntry();
}

IcmpHandle Icmp6CreateFile() {
    if (!icmpAvailable || !create6FileEntry || !sendEcho6Entry)
        return InvalidIcmpHandle;
    return create6FileEntry();
}

void IcmpCloseHandle(IcmpHandle handle) {
    if (closeHandleEntry && handle != InvalidIcmpHandle)
        closeHandleEntry(handle);
}

namespace {

// One request of PacketSize bytes of 0xAA through `send` (request data,
// size, reply buffer, its size; returns the reply count), with the reply
// record of type Record copied into Reply on success.
template <typename Record, typename Send> int Echo(int PacketSize, Record& Reply, Send send) {
    // The service takes a 16-bit request size: a larger request cannot be
    // sent whole, and is refused rather than silently cut short.
    if (PacketSize < 0 || PacketSize > kMaxRequestSize)
        return static_cast<int>(IcmpStatus::PacketTooBig);
    std::vector<std::uint8_t> request(static_cast<std::size_t>(PacketSize), 0xAA);
    std::vector<std::uint8_t> replyBuffer(static_cast<std::size_t>(PacketSize) + sizeof(Record));
    std::uint32_t count = send(request.data(), static_cast<std::uint16_t>(PacketSize),
                               replyBuffer.data(), static_cast<std::uint32_t>(replyBuffer.size()));
    if (count == 0)
        return static_cast<int>(platform::GetLastError());
    std::memcpy(&Reply, replyBuffer.data(), sizeof(Record));
    return 0;
}

} // namespace

int EchoRequest(IcmpHandle Handle, const TIpOptions& Options, TEchoReply& Reply,
                std::uint32_t Address, int PacketSize, std::uint16_t TimeOut) {
    if (!sendEchoEntry)
        return static_cast<int>(IcmpStatus::GeneralFailure);
    TIpOptions options = Options;
    return Echo(
        PacketSize, Reply, [&](void* data, std::uint16_t size, void* reply, std::uint32_t room) {
            return sendEchoEntry(Handle, Address, data, size, &options, reply, room, TimeOut);
        });
}

int Echo6Request(IcmpHandle Handle, const TIpOptions& Options, TEcho6Reply& Reply,
                 const TIpv6Address& Address, int PacketSize, std::uint16_t TimeOut) {
    if (!sendEcho6Entry)
        return static_cast<int>(IcmpStatus::GeneralFailure);
    TIpOptions options = Options;
    return Echo(
        PacketSize, Reply, [&](void* data, std::uint16_t size, void* reply, std::uint32_t room) {
            return sendEcho6Entry(Handle, &Address, data, size, &options, reply, room, TimeOut);
        });
}
