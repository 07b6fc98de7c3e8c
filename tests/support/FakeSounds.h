#pragma once

#include "desktop/Sounds.h"

#include <QStringList>
#include <memory>

namespace netsonde::test {

// Records the name of every clip played instead of playing it. Installed for
// its lifetime.
class FakeSounds {
public:
    FakeSounds();
    ~FakeSounds();

    QStringList played;

private:
    std::unique_ptr<platform::Sounds> previous;
};

} // namespace netsonde::test
