#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

// Playback of the program's short sound clips, the resources ":/sounds/<name>.wav"
// ("UP" and "DOWN"). Every clip goes through this layer, so that tests can
// observe what is played without a sound device.
class Sounds {
public:
    virtual ~Sounds() = default;
    // Starts the named clip asynchronously and returns at once; a clip still
    // playing is cut off. Unknown names and a missing or busy sound device
    // leave the program silent.
    virtual void Play(const QString& name) = 0;
};

// The layer in use: Qt Multimedia's playback unless a replacement is installed.
Sounds& Player();
// Installs a replacement and returns the previous one; nullptr restores Qt's.
std::unique_ptr<Sounds> SetSounds(std::unique_ptr<Sounds> replacement);

// The raw bytes of a clip resource (a RIFF WAVE image), loaded on first use
// and kept until the program ends; empty for an unknown name.
QByteArray SoundClip(const QString& name);

} // namespace platform
