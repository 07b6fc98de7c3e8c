// Renders the control set in its looks (rest, hover, focus, disabled), the
// 3D text styles and the bevel variants into PNG files, under the classic
// system colours, for looking at what the controls draw.
//
//   controls_gallery [output folder]
#include "controls/SystemColors.h"
#include "controls/g_bevel.h"
#include "controls/g_checkbox.h"
#include "controls/g_edit.h"
#include "controls/g_label3d.h"
#include "controls/g_listbox.h"
#include "controls/g_memo.h"
#include "controls/g_panel.h"
#include "controls/g_progressbar.h"
#include "controls/g_updown.h"
#include "controls/tbevel_ex.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QTest>

namespace {

QString g_folder;

void save(QWidget& w, const QString& name) {
    const QImage image = w.grab().toImage();
    image.scaled(image.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .save(QDir(g_folder).filePath(name + QStringLiteral(".png")));
}

void hover(QWidget* w, bool on) {
    if (on) {
        QEnterEvent event(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
        QApplication::sendEvent(w, &event);
    } else {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(w, &event);
    }
}

// One row per control, one column per look.
void looks() {
    QWidget form;
    form.resize(4 * 130 + 20, 5 * 70 + 20);
    form.setAutoFillBackground(true);
    auto* park = new g_edit(&form);
    park->setGeometry(0, 0, 1, 1);
    const QStringList columns{"rest", "hover", "focus", "disabled"};
    QList<QList<QWidget*>> rows;
    for (int c = 0; c < 4; ++c) {
        const int x = 10 + c * 130;
        auto* caption = new g_label3d(&form);
        caption->SetTipo3D(T3D::normal);
        caption->SetCaption(columns[c]);
        caption->move(x, 4);
        auto* edit = new g_edit(&form);
        edit->setGeometry(x, 24, 120, 21);
        edit->setText(QStringLiteral("192.168.1."));
        auto* memo = new g_memo(&form);
        memo->setGeometry(x, 54, 120, 50);
        memo->setPlainText(QStringLiteral("Reply from 10.0.0.1\nbytes=56 time<10ms"));
        auto* list = new g_listbox(&form);
        list->setGeometry(x, 112, 120, 60);
        list->SetSorted(true);
        for (const char* t : {"host", "10.0.0.2", "Alpha", "10.0.0.10"})
            list->AddItem(QString::fromLatin1(t));
        list->SetItemIndex(1);
        auto* check = new g_checkbox(&form);
        check->setText(QStringLiteral("&Resolve"));
        check->setGeometry(x, 180, 120, 17);
        auto* label = new g_label3d(&form);
        label->SetTipo3D(T3D::normal);
        label->SetCaption(QStringLiteral("T&mOut :"));
        label->move(x, 210);
        auto* num = new g_edit(&form);
        num->setGeometry(x + 40, 206, 57, 21);
        auto* spin = new g_updown(&form);
        spin->setGeometry(x + 97, 206, 12, 21);
        spin->SetMin(100);
        spin->SetMax(32000);
        spin->SetAssociate(num);
        spin->SetPosition(2500);
        label->SetFocusControl(num);
        rows.append({edit, memo, list, check, num});
    }
    form.show();
    form.activateWindow();
    (void)QTest::qWaitForWindowActive(&form);
    for (QWidget* w : rows[1])
        hover(w, true);
    for (QWidget* w : rows[3])
        w->setEnabled(false);
    // Focus can be in one control at a time: one picture per focused control.
    for (int r = 0; r < rows[2].size(); ++r) {
        rows[2][r]->setFocus(Qt::TabFocusReason);
        save(form, QStringLiteral("looks_focus_%1").arg(r));
    }
    park->setFocus();
    save(form, QStringLiteral("looks"));
}

void labels() {
    QWidget form;
    form.resize(560, 300);
    form.setAutoFillBackground(true);
    const T3D styles[] = {T3D::hundido, T3D::sobresalido, T3D::normal, T3D::Grisado,
                          T3D::Sombreado};
    const char* names[] = {"hundido", "sobresalido", "normal", "Grisado", "Sombreado"};
    for (int i = 0; i < 5; ++i) {
        auto* small = new g_label3d(&form);
        small->SetTipo3D(styles[i]);
        small->SetCaption(QString::fromLatin1(names[i]) + QStringLiteral(" &Net :"));
        small->move(10, 10 + i * 22);
        auto* large = new g_label3d(&form);
        large->setFont(QFont(QStringLiteral("DejaVu Sans"), 24, QFont::Bold));
        large->SetTipo3D(styles[i]);
        large->SetCaption(QString::fromLatin1(names[i]));
        large->move(180, 4 + i * 42);
    }
    auto* disabled = new g_label3d(&form);
    disabled->SetTipo3D(T3D::normal);
    disabled->SetCaption(QStringLiteral("disabled normal"));
    disabled->move(10, 130);
    disabled->setEnabled(false);
    // A transparent label over a picture.
    struct Picture : QWidget {
        using QWidget::QWidget;
        void paintEvent(QPaintEvent*) override {
            QPainter p(this);
            QLinearGradient g(0, 0, width(), 0);
            g.setColorAt(0, QColor(0x204080));
            g.setColorAt(1, QColor(0xE0A040));
            p.fillRect(rect(), g);
        }
    };
    auto* picture = new Picture(&form);
    picture->setGeometry(10, 220, 300, 60);
    auto* over = new g_label3d(picture);
    over->setFont(QFont(QStringLiteral("DejaVu Sans"), 22));
    over->SetTipo3D(T3D::hundido);
    over->SetTransparent(true);
    over->SetCaption(QStringLiteral("Version 1.5"));
    over->move(10, 10);
    auto* opaque = new g_label3d(&form);
    opaque->SetTipo3D(T3D::normal);
    opaque->SetCaption(QStringLiteral("opaque label"));
    opaque->move(330, 240);
    save(form, QStringLiteral("labels"));
}

void bevels() {
    QWidget form;
    form.resize(600, 260);
    form.setAutoFillBackground(true);
    auto* plain = new tbevel_ex(&form);
    plain->move(10, 10);
    auto* groove = new tbevel_ex(&form);
    groove->setGeometry(70, 10, 120, 50);
    groove->SetBorderWidth(0);
    groove->SetBorderHeight(0);
    auto* deep = new tbevel_ex(&form);
    deep->setGeometry(200, 10, 60, 50);
    deep->SetBevelOutter(TPanelBevel_ex::bvxmorelowered);
    deep->SetBevelInner(TPanelBevel_ex::bvxnone);
    auto* filled = new tbevel_ex(&form);
    filled->setGeometry(270, 10, 80, 50);
    filled->SetClrOutter(TColor(0x336699));
    filled->SetClrInner(clWindow);
    filled->SetWidthOutter(2);
    auto* round = new tbevel_ex(&form);
    round->setGeometry(10, 80, 160, 80);
    round->SetShape(tbevelshape_ex::bsxcircular);
    auto* roundFilled = new tbevel_ex(&form);
    roundFilled->setGeometry(180, 80, 80, 80);
    roundFilled->SetShape(tbevelshape_ex::bsxcircular);
    roundFilled->SetClrInner(clWindow);
    roundFilled->SetBevelOutter(TPanelBevel_ex::bvxraised);
    roundFilled->SetBevelInner(TPanelBevel_ex::bvxlowered);
    roundFilled->SetWidthOutter(2);
    auto* panel = new g_panel(&form);
    panel->setGeometry(280, 80, 123, 80);
    panel->SetBevelInner(TPanelBevel::bvRaised);
    panel->SetBevelOuter(TPanelBevel::bvLowered);
    panel->SetCaption(QStringLiteral("panel"));
    int x = 420;
    for (TBevelShape shape : {TBevelShape::bsBox, TBevelShape::bsFrame, TBevelShape::bsTopLine}) {
        auto* b = new g_bevel(&form);
        b->setGeometry(x, 80, 50, 40);
        b->SetShape(shape);
        x += 56;
    }
    auto* bar = new g_progressbar(&form);
    bar->setGeometry(10, 180, 250, 16);
    bar->setValue(40);
    save(form, QStringLiteral("bevels"));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setPalette(ClassicPalette());
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    g_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(g_folder);
    looks();
    labels();
    bevels();
    return 0;
}
