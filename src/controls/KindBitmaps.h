#pragma once

#include "controls/ButtonTypes.h"

#include <QImage>
#include <QString>

// What assigning a predefined kind gives a button.
struct TKindInfo {
    const char* Caption;  // with the "&" of its mnemonic
    int ModalResult;      // the form's result when the button is clicked
    const char* Resource; // name of the glyph strip; nullptr for bkCustom
};

const TKindInfo& KindInfo(TBitBtnKind kind);
QString KindCaption(TBitBtnKind kind);
// True for the kinds that make a button the default (Enter) button.
constexpr bool KindIsDefault(TBitBtnKind kind) {
    return kind == bkOK || kind == bkYes;
}
// True for the kinds that make a button the cancel (Esc) button.
constexpr bool KindIsCancel(TBitBtnKind kind) {
    return kind == bkCancel || kind == bkNo;
}

// The glyph strip of a kind: two images side by side, normal and disabled.
// Loaded on first use and kept to the end of the program; a null image for
// bkCustom.
const QImage& GetKindBitmap(TBitBtnKind kind);
