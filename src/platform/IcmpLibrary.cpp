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
        // Each command on a line of its own, ready to paste. Raw echo goes
        // only through the broker, never through a capability of this
        // program: the installed broker is for the members of its group.
        std::string text = "This system lets the program open no ICMP socket. Either let every "
                           "group open ICMP echo sockets:\n"
                           "sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n";
        // A helper built here but not installed: the way to install it
        // root-owned where the program runs it from; never a capability for
        // a file the user owns.
        std::vector<std::string> helpers = rawicmp::HelperCandidates();
        const std::string& installed = helpers.front();
        if (::access(installed.c_str(), F_OK) != 0 && helpers.size() > 1 &&
            ::access(helpers[1].c_str(), F_OK) == 0)
            text += "or install the echo broker built here, then join its group:\n"
                    "sudo addgroup --system netsonde\n"
                    "sudo install -D -o root -g netsonde -m 0750 " +
                    helpers[1] + " " + installed + "\nsudo setcap cap_net_raw+ep " + installed +
                    "\n";
        else
            text += "or join the group that may send echo requests through the broker, then "
                    "log in again:\n";
        return text + "sudo adduser " + UserName() + " netsonde";
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
