#include "states/HostState.h"

namespace states {

int PictureIndex(HostState state) {
    switch (state) {
    case HostState::TimedOut:
        return 1;
    case HostState::Answered:
        return 2;
    default:
        return 0;
    }
}

QString SpokenWords(HostState state) {
    switch (state) {
    case HostState::None:
        return QStringLiteral("not checked");
    case HostState::TimedOut:
        return QStringLiteral("timed out");
    case HostState::Answered:
        return QStringLiteral("answered");
    default:
        return QString::fromLatin1(MetricLabel(state));
    }
}

const char* MetricLabel(HostState state) {
    switch (state) {
    case HostState::Up:
        return "up";
    case HostState::Degraded:
        return "degraded";
    case HostState::Down:
        return "down";
    default:
        return "unknown";
    }
}

HostState FromStored(int number) {
    switch (number) {
    case static_cast<int>(HostState::Up):
        return HostState::Up;
    case static_cast<int>(HostState::Degraded):
        return HostState::Degraded;
    case static_cast<int>(HostState::Down):
        return HostState::Down;
    default:
        return HostState::Unknown;
    }
}

} // namespace states
