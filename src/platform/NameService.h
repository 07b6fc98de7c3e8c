#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What a name lookup found: the official name, the other names and the
// IPv4 addresses (network byte order), the first address first.
struct HostRecord {
    std::string name;
    std::vector<std::string> aliases;
    std::vector<std::uint32_t> addresses;
};

// The system's host name lookups behind a seam, so that tests can script
// names, addresses and failures. Both operations block, may be called on any
// thread and several at once, and return 0 with the record filled, or a
// socket library error code: 11001 host not found, 11002 try again, 11003 no
// recovery, 11004 no data.
class NameService {
public:
    virtual ~NameService() = default;
    virtual int ByName(const std::string& name, HostRecord& record) = 0;
    virtual int ByAddr(std::uint32_t address, HostRecord& record) = 0;
};

// The system's resolver through glibc's reentrant lookups: nsswitch, the
// hosts file, DNS as configured in resolv.conf.
class SystemNameService : public NameService {
public:
    int ByName(const std::string& name, HostRecord& record) override;
    int ByAddr(std::uint32_t address, HostRecord& record) override;
    // The socket library code for a resolver h_errno value.
    static int ErrorCode(int herrno);
};

// The service in use. Lookups in flight keep the one they started with.
std::shared_ptr<NameService> CurrentNameService();
// Installs a replacement and returns the previous one; nullptr restores the
// system's.
std::shared_ptr<NameService> SetNameService(std::shared_ptr<NameService> replacement);

} // namespace platform
