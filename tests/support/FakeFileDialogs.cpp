#include "support/FakeFileDialogs.h"

namespace netsonde::test {

class ScriptedFileDialogs final : public platform::FileDialogs {
public:
    explicit ScriptedFileDialogs(FakeFileDialogs& owner) : owner(owner) {}
    std::optional<QString> PickFile(const platform::FileDialogRequest& request) override {
        owner.requests.push_back(request);
        if (owner.picks.empty())
            return std::nullopt;
        std::optional<QString> pick = owner.picks.front();
        owner.picks.pop_front();
        return pick;
    }

private:
    FakeFileDialogs& owner;
};

FakeFileDialogs::FakeFileDialogs() {
    previous = platform::SetDialogs(std::make_unique<ScriptedFileDialogs>(*this));
}

FakeFileDialogs::~FakeFileDialogs() {
    platform::SetDialogs(std::move(previous));
}

void FakeFileDialogs::PickNext(std::optional<QString> path) {
    picks.push_back(std::move(path));
}

} // namespace netsonde::test
