#include "controls/g_edit.h"

g_edit::g_edit(QWidget* parent) : THighlightControl<QLineEdit>(parent) {
    connect(this, &QLineEdit::textChanged, this, [this] { Fire(OnChange); });
}
