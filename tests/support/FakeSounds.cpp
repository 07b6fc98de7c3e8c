#include "support/FakeSounds.h"

namespace netsonde::test {

namespace {

class RecordingSounds final : public platform::Sounds {
public:
    explicit RecordingSounds(QStringList& played) : FPlayed(played) {}
    void Play(const QString& name) override { FPlayed.append(name); }

private:
    QStringList& FPlayed;
};

} // namespace

FakeSounds::FakeSounds()
    : previous(platform::SetSounds(std::make_unique<RecordingSounds>(played))) {}

FakeSounds::~FakeSounds() {
    platform::SetSounds(std::move(previous));
}

} // namespace netsonde::test
