#include "support/FakeSocketLibrary.h"

namespace netsonde::test {

namespace {
class CountingLibrary final : public platform::SocketLibrary {
public:
    explicit CountingLibrary(FakeSocketLibrary& owner) : owner(owner) {}
    int Startup(std::uint16_t, platform::TWSAData*) override {
        ++owner.startups;
        return owner.failStartupWith;
    }
    int Cleanup() override {
        ++owner.cleanups;
        if (owner.failCleanupWith != 0) {
            platform::WSASetLastError(owner.failCleanupWith);
            return platform::SOCKET_ERROR;
        }
        return 0;
    }

private:
    FakeSocketLibrary& owner;
};
} // namespace

FakeSocketLibrary::FakeSocketLibrary() {
    previous = platform::SetSocketLibrary(std::make_unique<CountingLibrary>(*this));
}

FakeSocketLibrary::~FakeSocketLibrary() {
    platform::SetSocketLibrary(std::move(previous));
}

} // namespace netsonde::test
