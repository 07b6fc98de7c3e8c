#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What a name lookup found: the official name, the other names and the
// addresses (network byte order), the first address first: IPv4 ones in
// addresses, or, when the first address found is an IPv6 one, IPv6 ones in
// addresses6.
struct HostRecord {
    std::string name;
    std::vector<std::string> aliases;
    std::vector<std::uint32_t> addresses;
    std::vector<std::array<std::uint8_t, 16>> addresses6;
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
    // The name of an IPv6 address (scope: the interface of a link-local one).
    virtual int ByAddr6(const std::array<std::uint8_t, 16>&, std::uint32_t, HostRecord&) {
        return 11001;
    }
    // The answer to the same questions when the service holds it already
    // and gives it without waiting: true with code and record set. The
    // system's service holds none; a cache in front of it may.
    virtual bool HeldByName(const std::string&, int&, HostRecord&) { return false; }
    virtual bool HeldByAddr(std::uint32_t, int&, HostRecord&) { return false; }
    virtual bool HeldByAddr6(const std::array<std::uint8_t, 16>&, std::uint32_t, int&,
                             HostRecord&) {
        return false;
    }
};

// The system's resolver: nsswitch, the hosts file, DNS as configured in
// resolv.conf. A name takes the system's address selection, as its ping
// does: getaddrinfo with AI_ADDRCONFIG and no family, the first result's
// family (so a machine without IPv6 keeps going to IPv4). Reverse lookups
// of both families go through getnameinfo.
class SystemNameService : public NameService {
public:
    int ByName(const std::string& name, HostRecord& record) override;
    int ByAddr(std::uint32_t address, HostRecord& record) override;
    int ByAddr6(const std::array<std::uint8_t, 16>& address, std::uint32_t scope,
                HostRecord& record) override;
    // The socket library code for a resolver h_errno value.
    static int ErrorCode(int herrno);
    // The socket library code for a getaddrinfo or getnameinfo result.
    static int AddrInfoErrorCode(int eai);
};

// The service in use. Lookups in flight keep the one they started with.
std::shared_ptr<NameService> CurrentNameService();
// Installs a replacement for every lookup of the process and returns the
// previous one; nullptr restores the system's. For tests only: the program
// hands a service to the lookups that are to ask it (see WinSock.h).
std::shared_ptr<NameService> SetNameServiceForTests(std::shared_ptr<NameService> replacement);

} // namespace platform
