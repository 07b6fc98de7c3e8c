#include "platform/IcmpLibrary.h"

#include "platform/IcmpService.h"

#include <filesystem>
#include <system_error>

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
        // The commands name the program file actually running, so that they
        // can be pasted as they are (/usr/bin/netsonde once installed).
        return "This system lets the program open no ICMP socket. Either let every group "
               "open ICMP echo sockets:\n"
               "sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
               "or give the program raw sockets:\n"
               "sudo setcap cap_net_raw+ep " +
               ProgramPath();
    }

private:
    static std::string ProgramPath() {
        std::error_code error;
        std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error || path.empty())
            return "/usr/bin/netsonde";
        return path.string();
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
