#include "ControlFixture.h"
#include "PixelTools.h"
#include "controls/g_edit.h"
#include "controls/g_label3d.h"

#include <QFontMetrics>
#include <QPainter>
#include <QShortcut>

using namespace netsonde::test;

namespace {

class Label3D : public ControlFixture {
protected:
    g_label3d* MakeLabel(const QString& caption) {
        auto* label = new g_label3d(window.get());
        label->move(100, 50);
        label->setFont(CrispFont(8));
        label->SetCaption(caption);
        return label;
    }

    // What the label shows, on a green background.
    static QImage Pixels(QWidget* w) {
        QImage image = BlankImage(w->width(), w->height());
        w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
};

} // namespace

TEST_F(Label3D, Defaults) {
    g_label3d label;
    EXPECT_EQ(label.size(), QSize(65, 17));
    EXPECT_TRUE(label.AutoSize());
    EXPECT_TRUE(label.ShowAccelChar());
    EXPECT_FALSE(label.Transparent());
    EXPECT_FALSE(label.WordWrap());
    EXPECT_EQ(label.Tipo3D(), T3D::hundido);
    EXPECT_EQ(label.Alignment(), TAlignment::taLeftJustify);
    EXPECT_EQ(label.FocusControl(), nullptr);
}

TEST_F(Label3D, SizesToItsTextPlusThree) {
    const QFontMetrics fm(CrispFont(8), window.get());
    g_label3d* label = MakeLabel(QStringLiteral("Secs.:"));
    EXPECT_EQ(label->height(), fm.height() + 3);
    EXPECT_EQ(label->width(), fm.horizontalAdvance(QStringLiteral("Secs.:")) + 3);
    EXPECT_EQ(label->pos(), QPoint(100, 50));

    // An empty caption measures one blank: one line high.
    g_label3d* empty = MakeLabel(QString());
    g_label3d* blank = MakeLabel(QStringLiteral(" "));
    EXPECT_EQ(empty->size(), blank->size());
    EXPECT_EQ(empty->height(), fm.height() + 3);

    // A lone accelerator mark is measured with a blank after it.
    g_label3d* amp = MakeLabel(QStringLiteral("&"));
    g_label3d* ampBlank = MakeLabel(QStringLiteral("& "));
    EXPECT_EQ(amp->size(), ampBlank->size());
    g_label3d* literal = MakeLabel(QString());
    literal->SetShowAccelChar(false);
    literal->SetCaption(QStringLiteral("&"));
    EXPECT_EQ(literal->width(), fm.horizontalAdvance(QStringLiteral("&")) + 3);
}

TEST_F(Label3D, WhatResizesAndWhatOnlyRepaints) {
    g_label3d* label = MakeLabel(QStringLiteral("Add an IP Address"));
    const QSize size = label->size();
    label->SetAlignment(TAlignment::taCenter);
    label->SetTipo3D(T3D::Sombreado);
    EXPECT_EQ(label->size(), size);
    label->SetCaption(QStringLiteral("Add"));
    EXPECT_LT(label->width(), size.width());
    label->setFont(CrispFont(16));
    EXPECT_GT(label->height(), size.height());
    label->SetAutoSize(false);
    label->resize(200, 40);
    label->SetCaption(QStringLiteral("Other"));
    EXPECT_EQ(label->size(), QSize(200, 40));
    label->SetAutoSize(true);
    EXPECT_NE(label->size(), QSize(200, 40));
}

TEST_F(Label3D, WordWrapMeasuresWithinTheWidth) {
    g_label3d* label = MakeLabel(QString());
    label->SetAutoSize(false);
    label->resize(40, 17);
    label->SetCaption(QStringLiteral("one two three four"));
    label->SetWordWrap(true);
    label->SetAutoSize(true);
    const QFontMetrics fm(CrispFont(8), window.get());
    EXPECT_GT(label->height(), 2 * fm.height());
    EXPECT_LE(label->width(), 43 + fm.horizontalAdvance(QStringLiteral("three")));
}

TEST_F(Label3D, RightJustifiedKeepsItsRightEdge) {
    g_label3d* label = MakeLabel(QStringLiteral("Secs.:"));
    label->SetAlignment(TAlignment::taRightJustify);
    const int right = label->x() + label->width();
    label->SetCaption(QStringLiteral("A much longer caption"));
    EXPECT_EQ(label->x() + label->width(), right);
    label->SetCaption(QStringLiteral("A"));
    EXPECT_EQ(label->x() + label->width(), right);
    EXPECT_GT(label->x(), 100);
}

TEST_F(Label3D, DisabledLabelIsDrawnGreyed) {
    g_label3d* label = MakeLabel(QStringLiteral("Secs.:"));
    label->SetTipo3D(T3D::normal);
    label->SetTransparent(true);
    g_label3d* greyed = MakeLabel(QStringLiteral("Secs.:"));
    greyed->SetTipo3D(T3D::Grisado);
    greyed->SetTransparent(true);
    const QImage normal = Pixels(label);
    EXPECT_NE(FirstDifference(normal, Pixels(greyed)), "");
    label->setEnabled(false);
    EXPECT_EQ(FirstDifference(Pixels(label), Pixels(greyed)), "");
    label->setEnabled(true);
    EXPECT_EQ(FirstDifference(Pixels(label), normal), "");
}

TEST_F(Label3D, TransparentLabelShowsWhatLiesBeneath) {
    g_label3d* label = MakeLabel(QStringLiteral("Secs.:"));
    label->SetTipo3D(T3D::normal);
    const QImage opaque = Pixels(label);
    EXPECT_EQ(opaque.pixel(0, 0), kFace);
    label->SetTransparent(true);
    const QImage clear = Pixels(label);
    EXPECT_EQ(clear.pixel(0, 0), kBackground);
    // The letters are the same either way.
    for (const QPoint& p : Ink(clear))
        EXPECT_EQ(clear.pixel(p), opaque.pixel(p));
    label->SetColor(TColor(0x0000FF));
    label->SetTransparent(false);
    EXPECT_EQ(Pixels(label).pixel(0, 0), 0xFF0000FF);
}

TEST_F(Label3D, AcceleratorFocusesItsControl) {
    auto* first = new g_edit(window.get());
    auto* target = new g_edit(window.get());
    target->move(0, 40);
    g_label3d* label = MakeLabel(QStringLiteral("&Net :"));
    label->SetFocusControl(target);
    ShowActive();
    first->setFocus();
    QTest::keyClick(first, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(target->hasFocus());

    // Without the accelerator mark shown, the key means nothing to the label.
    first->setFocus();
    label->SetShowAccelChar(false);
    QTest::keyClick(first, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(first->hasFocus());
}

TEST_F(Label3D, AcceleratorOfADisabledTargetIsLeftToOthers) {
    auto* first = new g_edit(window.get());
    auto* target = new g_edit(window.get());
    target->move(0, 40);
    g_label3d* label = MakeLabel(QStringLiteral("&Net :"));
    label->SetFocusControl(target);
    int others = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_N), window.get());
    QObject::connect(shortcut, &QShortcut::activated, [&] { ++others; });
    ShowActive();
    first->setFocus();

    target->setEnabled(false);
    QTest::keyClick(first, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(first->hasFocus());
    EXPECT_EQ(others, 1);

    target->setEnabled(true);
    label->setEnabled(false);
    QTest::keyClick(first, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(first->hasFocus());
    EXPECT_EQ(others, 2);
}

TEST_F(Label3D, ForgetsADestroyedFocusControl) {
    auto* first = new g_edit(window.get());
    auto* target = new g_edit(window.get());
    g_label3d* label = MakeLabel(QStringLiteral("&Net :"));
    label->SetFocusControl(target);
    ShowActive();
    first->setFocus();
    delete target;
    EXPECT_EQ(label->FocusControl(), nullptr);
    QTest::keyClick(first, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(first->hasFocus());
}

TEST_F(Label3D, StaysBeneathWindowedSiblings) {
    auto* edit = new g_edit(window.get());
    g_label3d* label = MakeLabel(QStringLiteral("Label"));
    g_label3d* later = MakeLabel(QStringLiteral("Later"));
    const QObjectList order = window->children();
    EXPECT_LT(order.indexOf(label), order.indexOf(edit));
    EXPECT_LT(order.indexOf(label), order.indexOf(later));
    EXPECT_LT(order.indexOf(later), order.indexOf(edit));
    // Moved to another parent, it goes beneath the windowed controls there.
    QWidget other;
    auto* otherEdit = new g_edit(&other);
    later->setParent(&other);
    EXPECT_LT(other.children().indexOf(later), other.children().indexOf(otherEdit));
}
