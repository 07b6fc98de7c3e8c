#pragma once

#include <QByteArray>

// The click sounds of the glyph buttons: 0 is "UP" (a click), 1 is "DOWN"
// (the button painted pressed).
QByteArray GetSoundStream(int index);
// Starts a clip asynchronously; unknown indexes and a missing sound device
// leave the button silent.
void PlayButtonSound(int index);
