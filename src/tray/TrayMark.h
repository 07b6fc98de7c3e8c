#pragma once

#include <QColor>
#include <QIcon>

// The marks the tray icon wears while something needs attention.
namespace tray {

// Red: a host is down, or did not answer.
inline const QColor MarkRed{0xD0, 0x10, 0x10};
// Amber: a host answers, but badly.
inline const QColor MarkAmber{0xE8, 0x9A, 0x00};

// The icon with a dot of colour in its lower right corner, in every size
// the icon has (16 to 64 pixels when it has none).
QIcon MarkedIcon(const QIcon& icon, const QColor& colour);

} // namespace tray
