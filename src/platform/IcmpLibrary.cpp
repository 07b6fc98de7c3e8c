#include "platform/IcmpLibrary.h"

#include "platform/IcmpService.h"
#include "platform/RawIcmpSockets.h"

#include <algorithm>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

// The service as this system provides it: ICMP sockets of the kernel. The
// library "loads" when the process can open an ICMP socket of either kind.
class LinuxIcmpLibrary final : public IcmpLibrary {
public:
    ~LinuxIcmpLibrary() override { linuxicmp::CloseIdleSockets(); }
    IcmpCreateFileFn CreateFileEntry(const std::string& name) override {
        if (name == "IcmpCreateFile")
            return &linuxicmp::IcmpCreateFile;
        if (name == "Icmp6CreateFile")
            return &linuxicmp::Icmp6CreateFile;
        return {};
    }
    IcmpCloseHandleFn CloseHandleEntry(const std::string& name) override {
        if (name == "IcmpCloseHandle")
            return &linuxicmp::IcmpCloseHandle;
        return {};
    }
    IcmpSendEchoFn SendEchoEntry(const std::string& name) override {
        if (name == "IcmpSendEcho")
            return &linuxicmp::IcmpSendEcho;
        return {};
    }
    Icmp6SendEchoFn SendEcho6Entry(const std::string& name) override {
        if (name == "Icmp6SendEcho")
            return &linuxicmp::Icmp6SendEcho;
        return {};
    }
    void InterruptRequests() override { linuxicmp::InterruptAllRequests(); }
};

class LinuxIcmpProvider final : public IcmpLibraryProvider {
public:
    std::unique_ptr<IcmpLibrary> Load(const std::string& name) override {
        if (name != "icmp.dll")
            return nullptr;
        if (linuxicmp::ProbeSocketKind() == linuxicmp::SocketKind::None)
            return nullptr;
        linuxicmp::ResumeRequests();
        return std::make_unique<LinuxIcmpLibrary>();
    }
    std::string Reason() const override {
        // Each command on a line of its own, ready to paste. Raw sockets come
        // only from the helper program, never from a capability of this one:
        // an installed helper is for the members of its group; a helper in a
        // build tree needs the capability given by hand.
        std::string text = "This system lets the program open no ICMP socket. Either let every "
                           "group open ICMP echo sockets:\n"
                           "sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n";
        std::vector<std::string> helpers = rawicmp::HelperCandidates();
        auto found = std::find_if(helpers.begin(), helpers.end(), [](const std::string& path) {
            return ::access(path.c_str(), F_OK) == 0;
        });
        if (found != helpers.end() && found->find("/lib/netsonde/") == std::string::npos)
            return text + "or give the helper program raw sockets:\nsudo setcap cap_net_raw+ep " +
                   *found;
        return text +
               "or join the group that may use raw sockets, then log in again:\n"
               "sudo adduser " +
               UserName() + " netsonde";
    }

private:
    static std::string UserName() {
        if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name)
            return entry->pw_name;
        return "$USER";
    }
};

std::unique_ptr<IcmpLibraryProvider>& current() {
    static std::unique_ptr<IcmpLibraryProvider> provider = std::make_unique<LinuxIcmpProvider>();
    return provider;
}

} // namespace

IcmpLibraryProvider& IcmpProvider() {
    return *current();
}

std::unique_ptr<IcmpLibraryProvider>
SetIcmpProvider(std::unique_ptr<IcmpLibraryProvider> replacement) {
    std::unique_ptr<IcmpLibraryProvider> previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_unique<LinuxIcmpProvider>();
    return previous;
}

} // namespace platform
