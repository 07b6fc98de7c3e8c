#pragma once

#include "controls/TForm.h"

class TCBitBtn;
class g_image;
class g_label3d;
class g_panel;

// The about box: the product's picture with its version, and OK.
class Tfm_about : public TForm {
    Q_OBJECT
public:
    explicit Tfm_about(QWidget* owner = nullptr);

    g_panel* g_panel1;
    g_image* image;
    g_label3d* g_label3d1;
    TCBitBtn* CBitBtn1;
};
