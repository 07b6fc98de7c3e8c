// Shows the glyph buttons in every look (rest, hover, active or focused,
// pressed, disabled, lit), each face shape, layout and predefined kind, and
// the menu button. With a file name it writes a screenshot of the window
// there and ends.
//
//   button_gallery [screenshot.png [scale]]

#include "controls/KindBitmaps.h"
#include "controls/SystemColors.h"
#include "controls/TCBitBtn.h"
#include "controls/TForm.h"
#include "controls/g_PopupMenu.h"
#include "controls/g_btnmenu.h"
#include "controls/g_edit.h"
#include "controls/g_label3d.h"
#include "controls/tbevel_ex.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// A focused button looks like an active one: the active column stands for both.
enum class Look { Rest, Hover, Active, Pressed, Disabled, Lit };

const char* LookName(Look l) {
    switch (l) {
    case Look::Rest:
        return "rest";
    case Look::Hover:
        return "hover";
    case Look::Active:
        return "active";
    case Look::Pressed:
        return "pressed";
    case Look::Disabled:
        return "disabled";
    case Look::Lit:
        return "lit";
    }
    return "";
}

const char* ShapeName(TBtnShape s) {
    switch (s) {
    case bnsBox:
        return "bnsBox";
    case bnsCirc:
        return "bnsCirc";
    case bnsArc:
        return "bnsArc";
    case bnsFlat:
        return "bnsFlat";
    }
    return "";
}

QLabel* Label(QWidget* parent, const QString& text, int x, int y, int w = 90) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, 16);
    return l;
}

void Hover(QWidget* b) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), b->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(b, &enter);
}

// The glyph strips, four times their size, on the button face colour.
class StripSheet : public QWidget {
public:
    explicit StripSheet(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), clBtnFace.Resolve());
        int x = 0;
        for (int k = bkOK; k <= bkAll; ++k) {
            const QImage& img = GetKindBitmap(static_cast<TBitBtnKind>(k));
            p.drawImage(QRect(x, 0, img.width() * 3, img.height() * 3), img);
            x += img.width() * 3 + 6;
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setPalette(ClassicPalette());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(8);
    QApplication::setFont(font);
    // The gallery is for looking: pressed faces would click all the time.
    CircButton::ClickSounds = false;

    TForm form;
    form.setWindowTitle(QStringLiteral("Glyph buttons"));
    form.resize(1150, 620);

    // Holds the focus, so that the default buttons show their active look.
    auto* edit = new g_edit(&form);
    edit->setGeometry(8, 6, 100, 20);
    edit->setText(QStringLiteral("focus here"));

    const Look looks[] = {Look::Rest,    Look::Hover,    Look::Active,
                          Look::Pressed, Look::Disabled, Look::Lit};
    const TBtnShape shapes[] = {bnsBox, bnsCirc, bnsArc, bnsFlat};
    const int x0 = 80, y0 = 48, dx = 112, dy = 44;
    std::vector<QWidget*> hovered;
    for (int c = 0; c < 6; ++c)
        Label(&form, QString::fromLatin1(LookName(looks[c])), x0 + c * dx, y0 - 18);
    for (int r = 0; r < 4; ++r) {
        Label(&form, QString::fromLatin1(ShapeName(shapes[r])), 8, y0 + r * dy + 6, 70);
        for (int c = 0; c < 6; ++c) {
            auto* b = new TCBitBtn(&form);
            b->setGeometry(x0 + c * dx, y0 + r * dy, 105, 32);
            b->SetBtnShape(shapes[r]);
            b->SetKind(r % 2 ? bkCancel : bkOK);
            b->SetDefault(false);
            b->SetCancel(false);
            b->SetCaption(QStringLiteral("&Button"));
            switch (looks[c]) {
            case Look::Rest:
                break;
            case Look::Hover:
                hovered.push_back(b);
                break;
            case Look::Active:
                b->SetDefault(true);
                break;
            case Look::Pressed:
                b->setDown(true);
                break;
            case Look::Disabled:
                b->setEnabled(false);
                break;
            case Look::Lit:
                b->SetIgnoreLight(true);
                break;
            }
        }
    }

    // Kinds, on the form's own flat shape.
    const int ky = y0 + 4 * dy + 20;
    Label(&form, QStringLiteral("kinds (flat, hover on Ok)"), 8, ky - 18, 300);
    for (int k = bkOK; k <= bkAll; ++k) {
        auto* b = new TCBitBtn(&form);
        b->setGeometry(8 + (k - 1) * 112, ky, 105, 25);
        b->SetKind(static_cast<TBitBtnKind>(k));
        b->SetDefault(false);
        if (k == bkOK)
            hovered.push_back(b);
    }
    // The same kinds as boxes.
    for (int k = bkOK; k <= bkAll; ++k) {
        auto* b = new TCBitBtn(&form);
        b->setGeometry(8 + (k - 1) * 112, ky + 32, 105, 25);
        b->SetBtnShape(bnsBox);
        b->SetKind(static_cast<TBitBtnKind>(k));
        b->SetDefault(false);
    }

    // Layouts, as on the address dialog's large buttons and the command
    // buttons of the main window.
    const int ly = ky + 90;
    Label(&form, QStringLiteral("layouts, margins, menu button"), 8, ly - 18, 300);
    const TButtonLayout layouts[] = {blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom};
    const char* layoutNames[] = {"Glyph &left", "Glyph &right", "Glyph &top", "Glyph &bottom"};
    for (int i = 0; i < 4; ++i) {
        auto* b = new TCBitBtn(&form);
        b->setGeometry(8 + i * 152, ly, 145, 49);
        b->SetBtnShape(bnsBox);
        b->SetGlyph(GetKindBitmap(bkRetry));
        b->SetLayout(layouts[i]);
        b->SetCaption(QString::fromLatin1(layoutNames[i]));
    }
    auto* command = new TCBitBtn(&form);
    command->setGeometry(616, ly, 105, 25);
    command->SetGlyph(GetKindBitmap(bkYes));
    command->SetMargin(8);
    command->SetSpacing(-1);
    command->SetCaption(QStringLiteral("Check &One"));
    hovered.push_back(command);
    auto* command2 = new TCBitBtn(&form);
    command2->setGeometry(616, ly + 26, 105, 25);
    command2->SetGlyph(GetKindBitmap(bkIgnore));
    command2->SetMargin(8);
    command2->SetSpacing(-1);
    command2->SetCaption(QStringLiteral("&Trace"));

    g_PopupMenu menu;
    menu.addAction(QStringLiteral("Start"));
    menu.addAction(QStringLiteral("Stop"));
    const int mx = 736;
    for (int i = 0; i < 4; ++i) {
        auto* m = new g_btnmenu(&form);
        m->setGeometry(mx + i * 40, ly, 33, 28);
        m->SetGlyph(GetKindBitmap(bkAll));
        m->SetNumGlyphs(2); // 36 x 19 is no multiple of its height
        m->SetMenu(&menu);
        if (i == 1)
            hovered.push_back(m);
        if (i == 2)
            m->setDown(true);
        if (i == 3)
            m->setEnabled(false);
    }

    auto* sheet = new StripSheet(&form);
    sheet->setGeometry(8, ly + 70, 1130, 60);

    // The rest of the control set as the forms use it.
    const int oy = ly + 150;
    Label(&form, QStringLiteral("edits (rest, hover, disabled), 3D labels, bevels"), 8, oy - 18,
          400);
    for (int i = 0; i < 3; ++i) {
        auto* e = new g_edit(&form);
        e->setGeometry(8 + i * 110, oy, 100, 20);
        e->setText(QStringLiteral("192.168.1.%1").arg(i + 1));
        if (i == 1)
            hovered.push_back(e);
        if (i == 2)
            e->setEnabled(false);
    }
    const T3D styles[] = {T3D::hundido, T3D::sobresalido, T3D::normal, T3D::Grisado,
                          T3D::Sombreado};
    const char* styleNames[] = {"hundido", "sobresalido", "normal", "Grisado", "Sombreado"};
    for (int i = 0; i < 5; ++i) {
        auto* l = new g_label3d(&form);
        l->move(350 + i * 100, oy);
        l->SetCaption(QString::fromLatin1(styleNames[i]));
        l->SetTipo3D(styles[i]);
    }
    auto* bevel = new tbevel_ex(&form);
    bevel->setGeometry(860, oy - 10, 80, 50);
    auto* groove = new tbevel_ex(&form);
    groove->setGeometry(950, oy - 10, 80, 50);
    groove->SetBorderWidth(0);
    groove->SetBorderHeight(0);
    auto* round = new tbevel_ex(&form);
    round->setGeometry(1040, oy - 10, 80, 50);
    round->SetShape(tbevelshape_ex::bsxcircular);

    form.show();
    form.activateWindow();
    QApplication::setActiveWindow(&form);
    edit->setFocus();
    for (QWidget* b : hovered)
        Hover(b);

    if (argc > 1) {
        const QString path = QString::fromLocal8Bit(argv[1]);
        const int scale = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
        QTimer::singleShot(0, &form, [&form, path, scale] {
            QImage shot = form.grab().toImage();
            if (scale > 1)
                shot = shot.scaled(shot.size() * scale);
            const bool ok = shot.save(path);
            if (!ok)
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
