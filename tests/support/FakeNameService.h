#pragma once

#include "platform/NameService.h"

#include <array>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace netsonde::test {

// One lookup that reached the fake: "name:<text>" or "addr:<dotted>".
struct FakeLookup {
    std::string what;
    std::thread::id thread;
};

// A scripted name service installed for the object's lifetime. Hosts
// answer forward and reverse; names and addresses can be given errors;
// everything else is "host not found". Lookups can be held until the test
// releases them, to observe a lookup in flight.
class FakeNameService {
public:
    FakeNameService();
    ~FakeNameService();

    using Address6 = std::array<std::uint8_t, 16>;

    // name resolves to the addresses; the first address resolves back to
    // name. Addresses with a colon are IPv6 ones (give one family only).
    void AddHost(const std::string& name, const std::vector<const char*>& addresses,
                 const std::vector<std::string>& aliases = {});
    // A reverse entry alone.
    void AddReverse(const char* address, const std::string& name);
    void SetNameError(const std::string& name, int code);
    void SetAddressError(const char* address, int code);

    void HoldLookups(bool hold);
    // Waits (bounded) until count lookups are held; false on time-out.
    bool WaitForHeld(int count, int timeoutMs = 5000);
    void ReleaseOne();
    void ReleaseAll();

    std::vector<FakeLookup> Lookups() const;

private:
    struct State;
    std::shared_ptr<State> state;
    std::shared_ptr<platform::NameService> previous;
};

} // namespace netsonde::test
