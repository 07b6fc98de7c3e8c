#include "controls/ButtonSounds.h"

#include "desktop/Sounds.h"

namespace {
QString SoundName(int index) {
    switch (index) {
    case 0:
        return QStringLiteral("UP");
    case 1:
        return QStringLiteral("DOWN");
    default:
        return {};
    }
}
} // namespace

QByteArray GetSoundStream(int index) {
    const QString name = SoundName(index);
    return name.isEmpty() ? QByteArray() : platform::SoundClip(name);
}

void PlayButtonSound(int index) {
    if (!GetSoundStream(index).isEmpty())
        platform::Player().Play(SoundName(index));
}
