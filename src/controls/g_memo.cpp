#include "controls/g_memo.h"

g_memo::g_memo(QWidget* parent) : THighlightControl<QPlainTextEdit>(parent) {
    connect(this, &QPlainTextEdit::textChanged, this, [this] { Fire(OnChange); });
}
