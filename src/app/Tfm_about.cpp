#include "app/Tfm_about.h"

#include "controls/FormScale.h"
#include "controls/ScaledImage.h"
#include "controls/TCBitBtn.h"
#include "controls/g_image.h"
#include "controls/g_label3d.h"
#include "controls/g_panel.h"

namespace {

// Client size at 96 dots per inch: the picture with the panel's border and
// bevels around it, and a row below for the button.
constexpr int ClientWidth = 317;
constexpr int ClientHeight = 185;

} // namespace

Tfm_about::Tfm_about(QWidget* owner) : TForm(owner) {
    setObjectName(QStringLiteral("fm_about"));
    setWindowTitle(QStringLiteral("About Netsonde"));
    // A tool window without title-bar buttons.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(DialogFont(font()));
    SetPosition(TPosition::poScreenCenter);

    g_panel1 = new g_panel(this);
    g_panel1->setObjectName(QStringLiteral("g_panel1"));
    g_panel1->SetBevelInner(TPanelBevel::bvRaised);
    g_panel1->SetBevelOuter(TPanelBevel::bvLowered);
    g_panel1->SetBorderWidth(4);
    image = new g_image(g_panel1);
    image->setObjectName(QStringLiteral("image"));
    image->SetStretch(true);
    image->SetPicture(LoadScaledImage(QStringLiteral(":/app/about.png")));
    g_label3d1 = new g_label3d(g_panel1);
    g_label3d1->setObjectName(QStringLiteral("g_label3d1"));
    g_label3d1->SetAutoSize(false);
    g_label3d1->SetTransparent(true);
    g_label3d1->SetTipo3D(T3D::hundido);
    g_label3d1->SetFontColor(clBtnText);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(19);
    g_label3d1->setFont(bold);
    g_label3d1->SetCaption(QStringLiteral("V 1.5"));
    CBitBtn1 = new TCBitBtn(this);
    CBitBtn1->setObjectName(QStringLiteral("CBitBtn1"));
    CBitBtn1->SetKind(bkOK);

    const FormScale scale(this);
    scale.SetBounds(g_panel1, 0, 0, ClientWidth, 149);
    const int inside = 4 + 2 * g_panel1->BevelWidth();
    scale.SetBounds(image, inside, inside, 305, 137);
    scale.SetBounds(g_label3d1, 256, 8, 52, 27);
    // The label breaks its text at blanks: a bold face wider than the layout
    // expects gets the room it needs, towards the left.
    const int needed = g_label3d1->fontMetrics().horizontalAdvance(g_label3d1->Caption()) + 8;
    if (needed > g_label3d1->width())
        g_label3d1->setGeometry(
            g_label3d1->geometry().adjusted(g_label3d1->width() - needed, 0, 0, 0));
    scale.SetBounds(CBitBtn1, 240, 152, 75, 25);
    setFixedSize(scale.Px(ClientWidth), scale.Px(ClientHeight));
}
