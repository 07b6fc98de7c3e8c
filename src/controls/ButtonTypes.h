#pragma once

#include <cstdint>

// Side of the caption on which a button's glyph stands.
enum TButtonLayout : std::uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// The states a glyph strip has images for, in strip order.
enum TButtonState : std::uint8_t { bsUp, bsDisabled, bsDown, bsExclusive };

// Kept and repainted on change; it does not change the drawing.
enum TButtonStyle : std::uint8_t { bsAutoDetect, bsWin31, bsNew };

// The face shapes of a glyph button.
enum TBtnShape : std::uint8_t { bnsBox, bnsCirc, bnsArc, bnsFlat };

// Predefined button kinds: each sets caption, glyph, modal result and the
// default and cancel roles in one step.
enum TBitBtnKind : std::uint8_t {
    bkCustom,
    bkOK,
    bkCancel,
    bkHelp,
    bkYes,
    bkNo,
    bkClose,
    bkAbort,
    bkRetry,
    bkIgnore,
    bkAll
};
inline constexpr int KindCount = bkAll + 1;
