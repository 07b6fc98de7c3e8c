#include "PixelTools.h"
#include "controls/KindBitmaps.h"
#include "controls/SystemColors.h"
#include "controls/TButtonGlyph.h"
#include "controls/TCBitBtn.h"
#include "controls/TForm.h"
#include "support/FakeSounds.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

using netsonde::test::BlankImage;
using netsonde::test::kBackground;

namespace {

constexpr QRgb White = 0xFFFFFFFF, Grey = 0xFF808080, Face = 0xFFC0C0C0, Black = 0xFF000000;

class CBitBtnTest : public testing::Test {
protected:
    void SetUp() override {
        QApplication::setPalette(ClassicPalette());
        sounds = std::make_unique<netsonde::test::FakeSounds>();
    }
    void TearDown() override {
        CircButton::ClickSounds = true;
        CircButton::HoverGrowFont = true;
        CircButton::ArcShapeEnabled = true;
        CircButton::ForceIgnoreLight = false;
        CircButton::ButtonTipo3DEnabled = false;
        CircButton::BoldCaptions = false;
        sounds.reset();
    }

    static void Enter(QWidget* w) {
        QEnterEvent e(QPointF(3, 3), QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)));
        QApplication::sendEvent(w, &e);
    }
    static void Leave(QWidget* w) {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(w, &e);
    }
    // The button painted on the test background, which it may leave
    // showing where its face paints nothing.
    static QImage Render(QWidget* w) {
        QImage img = BlankImage(w->width(), w->height());
        w->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
        return img;
    }
    static QRect InkOf(const QImage& img, QRgb colour) {
        QRect r;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) == colour)
                    r |= QRect(x, y, 1, 1);
        return r;
    }

    std::unique_ptr<netsonde::test::FakeSounds> sounds;
};

struct KindRow {
    TBitBtnKind kind;
    const char* caption;
    int result;
    bool isDefault;
    bool isCancel;
    int height;
};

TEST_F(CBitBtnTest, EveryKindSetsCaptionResultRolesAndItsTwoImageStrip) {
    const KindRow rows[] = {
        {bkOK, "&Ok", 1, true, false, 18},           {bkCancel, "&Cancelar", 2, false, true, 18},
        {bkHelp, "&Ayuda", 0, false, false, 18},     {bkYes, "&Si", 6, true, false, 18},
        {bkNo, "&No", 7, false, true, 18},           {bkClose, "&Cerrar", 0, false, false, 18},
        {bkAbort, "&Abortar", 3, false, false, 18},  {bkRetry, "&Reintentar", 4, false, false, 18},
        {bkIgnore, "&Ignorar", 5, false, false, 18}, {bkAll, "&Todo", 8, false, false, 19},
    };
    for (const KindRow& row : rows) {
        TCBitBtn b;
        b.SetKind(row.kind);
        SCOPED_TRACE(row.caption);
        EXPECT_EQ(b.Kind(), row.kind);
        EXPECT_EQ(b.Caption(), QString::fromLatin1(row.caption));
        EXPECT_EQ(b.ModalResult(), row.result);
        EXPECT_EQ(b.Default(), row.isDefault);
        EXPECT_EQ(b.Cancel(), row.isCancel);
        EXPECT_EQ(b.Glyph().size(), QSize(36, row.height));
        EXPECT_EQ(b.NumGlyphs(), 2); // also for the 36 x 19 strip
        EXPECT_EQ(b.ButtonGlyph().TransparentColor() & 0xFFFFFF, 0x808000u);
    }
    EXPECT_TRUE(GetKindBitmap(bkCustom).isNull());
}

TEST_F(CBitBtnTest, ChangingWhatTheKindSetTurnsItCustom) {
    TCBitBtn cancel;
    cancel.SetKind(bkCancel);
    cancel.SetModalResult(1);
    EXPECT_EQ(cancel.Kind(), bkCustom);
    cancel.SetModalResult(2); // once custom, it stays custom
    EXPECT_EQ(cancel.Kind(), bkCustom);
    cancel.SetModalResult(1);
    cancel.SetKind(bkCancel); // given again, the kind is whole again
    EXPECT_EQ(cancel.Kind(), bkCancel);
    EXPECT_EQ(cancel.ModalResult(), 2);

    TCBitBtn ok;
    ok.SetKind(bkOK);
    ok.SetCaption(QStringLiteral("Go")); // the caption is free
    EXPECT_EQ(ok.Kind(), bkOK);
    ok.SetDefault(false);
    EXPECT_EQ(ok.Kind(), bkCustom);

    // The same without reading the kind in between.
    TCBitBtn abort;
    abort.SetKind(bkAbort);
    abort.SetModalResult(5);
    abort.SetKind(bkAbort);
    EXPECT_EQ(abort.ModalResult(), 3);

    TCBitBtn yes;
    yes.SetKind(bkYes);
    yes.SetCancel(true);
    EXPECT_EQ(yes.Kind(), bkCustom);

    TCBitBtn no;
    no.SetKind(bkNo);
    no.SetGlyph(GetKindBitmap(bkNo)); // even the same picture, given explicitly
    EXPECT_EQ(no.Kind(), bkCustom);

    // Assigning bkCustom keeps what the kind set.
    TCBitBtn retry;
    retry.SetKind(bkRetry);
    retry.SetKind(bkCustom);
    EXPECT_EQ(retry.Kind(), bkCustom);
    EXPECT_EQ(retry.Caption(), QStringLiteral("&Reintentar"));
    EXPECT_EQ(retry.ModalResult(), 4);
    EXPECT_EQ(retry.NumGlyphs(), 2);
    // A kind can follow another one.
    retry.SetKind(bkOK);
    EXPECT_EQ(retry.Kind(), bkOK);
    EXPECT_EQ(retry.Caption(), QStringLiteral("&Ok"));
}

TEST_F(CBitBtnTest, KindGivenWhileLoadingKeepsAnEarlierCaption) {
    TCBitBtn loaded;
    loaded.SetLoading(true);
    loaded.SetCaption(QStringLiteral("Close"));
    loaded.SetKind(bkOK);
    loaded.SetLoading(false);
    EXPECT_EQ(loaded.Caption(), QStringLiteral("Close"));
    EXPECT_EQ(loaded.ModalResult(), 1);

    TCBitBtn empty;
    empty.SetLoading(true);
    empty.SetKind(bkOK);
    EXPECT_EQ(empty.Caption(), QStringLiteral("&Ok"));

    TCBitBtn runtime;
    runtime.SetCaption(QStringLiteral("Close"));
    runtime.SetKind(bkOK);
    EXPECT_EQ(runtime.Caption(), QStringLiteral("&Ok"));
}

TEST_F(CBitBtnTest, SettersClampIgnoreAndReadThroughTheSwitches) {
    TCBitBtn b;
    EXPECT_EQ(b.BtnShape(), bnsFlat);
    EXPECT_EQ(b.Margin(), -1);
    EXPECT_EQ(b.Spacing(), 4);
    EXPECT_EQ(b.Layout(), blGlyphLeft);
    b.SetNumGlyphs(7);
    EXPECT_EQ(b.NumGlyphs(), 4);
    b.SetMargin(-5);
    EXPECT_EQ(b.Margin(), -1);
    b.SetMargin(8);
    b.SetMargin(-2);
    EXPECT_EQ(b.Margin(), 8);

    b.SetTipo3D(T3D::sobresalido);
    EXPECT_EQ(b.Tipo3D(), T3D::normal);
    CircButton::ButtonTipo3DEnabled = true;
    EXPECT_EQ(b.Tipo3D(), T3D::sobresalido);

    EXPECT_FALSE(b.IgnoreLight());
    CircButton::ForceIgnoreLight = true;
    EXPECT_TRUE(b.IgnoreLight());
}

TEST_F(CBitBtnTest, HoverGrowsTheFontAndLightsTheGlyphUntilTheMouseLeaves) {
    TCBitBtn b;
    QFont f = b.font();
    f.setPointSize(8);
    b.setFont(f);
    Enter(&b);
    EXPECT_TRUE(b.MouseInside());
    EXPECT_TRUE(b.Lit());
    EXPECT_EQ(b.font().pointSize(), 10);
    // A second enter without a leave does not grow it again.
    Enter(&b);
    EXPECT_EQ(b.font().pointSize(), 10);
    Leave(&b);
    EXPECT_FALSE(b.MouseInside());
    EXPECT_FALSE(b.Lit());
    EXPECT_EQ(b.font().pointSize(), 8);
    // A leave that finds the button at rest changes nothing.
    Leave(&b);
    EXPECT_EQ(b.font().pointSize(), 8);

    // A lit button still grows, but never lights.
    b.SetIgnoreLight(true);
    Enter(&b);
    EXPECT_FALSE(b.Lit());
    EXPECT_EQ(b.font().pointSize(), 10);
    Leave(&b);
    EXPECT_EQ(b.font().pointSize(), 8);

    CircButton::HoverGrowFont = false;
    Enter(&b);
    EXPECT_EQ(b.font().pointSize(), 8);
    Leave(&b);
    EXPECT_EQ(b.font().pointSize(), 8);
}

TEST_F(CBitBtnTest, MouseClickPlaysDownThenUpBeforeOnClick) {
    TCBitBtn b;
    b.resize(105, 25);
    b.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&b));
    QStringList atClick;
    int clicks = 0;
    b.OnClick = [&](QObject* sender) {
        EXPECT_EQ(sender, &b);
        atClick = sounds->played;
        ++clicks;
    };
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_FALSE(sounds->played.isEmpty());
    EXPECT_EQ(sounds->played.last(), QStringLiteral("DOWN"));
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_EQ(clicks, 1);
    ASSERT_FALSE(atClick.isEmpty());
    EXPECT_EQ(atClick.last(), QStringLiteral("UP"));

    // A keyboard click plays "UP" as well.
    sounds->played.clear();
    b.setFocus();
    QTest::keyClick(&b, Qt::Key_Space);
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(sounds->played.contains(QStringLiteral("UP")));

    // Without sounds, clicks are silent.
    CircButton::ClickSounds = false;
    sounds->played.clear();
    QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 3);
    EXPECT_TRUE(sounds->played.isEmpty());
}

TEST_F(CBitBtnTest, FlatFaceAtRestLeavesItsLastRowAndColumnAndShowsRingsOnlyWhenAsked) {
    TCBitBtn b;
    b.resize(40, 20);
    QImage rest = Render(&b);
    for (int x = 0; x < 40; ++x)
        EXPECT_EQ(rest.pixel(x, 19), kBackground) << x;
    for (int y = 0; y < 20; ++y)
        EXPECT_EQ(rest.pixel(39, y), kBackground) << y;
    for (QPoint p : {QPoint(0, 0), QPoint(38, 0), QPoint(0, 18), QPoint(38, 18), QPoint(20, 9)})
        EXPECT_EQ(rest.pixel(p), Face) << p.x() << "," << p.y();

    Enter(&b); // a raised ring just inside the painted area
    const QImage hover = Render(&b);
    EXPECT_EQ(hover.pixel(0, 0), White);
    EXPECT_EQ(hover.pixel(0, 17), White);
    EXPECT_EQ(hover.pixel(38, 0), Grey);
    EXPECT_EQ(hover.pixel(20, 18), Grey);
    EXPECT_EQ(hover.pixel(1, 1), Face);
    EXPECT_EQ(hover.pixel(39, 5), kBackground);
    Leave(&b);

    b.setDown(true); // pressed: a lowered ring
    const QImage pressed = Render(&b);
    EXPECT_EQ(pressed.pixel(0, 0), Grey);
    EXPECT_EQ(pressed.pixel(38, 18), White);
    EXPECT_EQ(pressed.pixel(20, 19), kBackground);
}

TEST_F(CBitBtnTest, ArcFaceShadingReversesWhenPressedAndItsCaptionStays) {
    CircButton::ClickSounds = false;
    TCBitBtn b;
    b.resize(60, 30);
    b.SetBtnShape(bnsArc);
    b.setFont(netsonde::test::CrispFont(9));
    b.SetCaption(QStringLiteral("Go"));
    const QImage up = Render(&b);
    EXPECT_EQ(up.pixel(30, 2), White); // first row inside both rings
    EXPECT_EQ(up.pixel(30, 27), Grey); // last row inside both rings
    b.setDown(true);
    const QImage down = Render(&b);
    EXPECT_EQ(down.pixel(30, 2), Grey);
    EXPECT_EQ(down.pixel(30, 27), White);
    const QRect upText = InkOf(up, Black);
    ASSERT_FALSE(upText.isEmpty());
    EXPECT_EQ(InkOf(down, Black), upText);

    // Other faces move a pressed caption down and right by one pixel.
    b.setDown(false);
    b.SetBtnShape(bnsBox);
    const QRect inside(4, 4, 52, 22);
    const QRect boxUp = InkOf(Render(&b).copy(inside), Black);
    ASSERT_FALSE(boxUp.isEmpty());
    b.setDown(true);
    EXPECT_EQ(InkOf(Render(&b).copy(inside), Black), boxUp.translated(1, 1));

    // With the shaded face switched off, it is drawn as a box.
    CircButton::ArcShapeEnabled = false;
    b.SetBtnShape(bnsArc);
    b.setDown(false);
    const QImage asBox = Render(&b);
    EXPECT_EQ(asBox.pixel(30, 2), Face);
}

TEST_F(CBitBtnTest, RestGlyphIsDimmedAndHoverShowsItInColour) {
    TCBitBtn b;
    b.resize(33, 28);
    b.SetKind(bkCancel);
    b.SetCaption(QString());
    auto colours = [](const QImage& img) {
        QSet<QRgb> s;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                s.insert(img.pixel(x, y));
        return s;
    };
    const QSet<QRgb> rest = colours(Render(&b));
    EXPECT_FALSE(rest.contains(0xFFFF0000)); // no red of the cross at rest
    EXPECT_TRUE(rest.contains(Grey));
    Enter(&b);
    EXPECT_TRUE(colours(Render(&b)).contains(0xFFFF0000));
    Leave(&b);
    b.SetIgnoreLight(true);
    EXPECT_TRUE(colours(Render(&b)).contains(0xFFFF0000));
    b.SetIgnoreLight(false);
    b.setEnabled(false);
    EXPECT_FALSE(colours(Render(&b)).contains(0xFFFF0000));
}

TEST_F(CBitBtnTest, DimmedGlyphFollowsAPaletteChange) {
    TCBitBtn b;
    b.resize(33, 28);
    b.SetKind(bkCancel);
    b.SetCaption(QString());
    const QRgb oddShadow = 0xFF305070;
    EXPECT_EQ(InkOf(Render(&b), oddShadow), QRect());
    QPalette pal = ClassicPalette();
    pal.setColor(QPalette::Dark, QColor(oddShadow));
    QApplication::setPalette(pal);
    QApplication::processEvents(); // the change reaches widgets as a posted event
    EXPECT_NE(InkOf(Render(&b), oddShadow), QRect());
    QApplication::setPalette(ClassicPalette());
}

TEST_F(CBitBtnTest, BoldFontsAreDrawnRegularUnlessSwitchedOn) {
    TCBitBtn regular, bold;
    for (TCBitBtn* b : {&regular, &bold}) {
        b->resize(80, 25);
        b->SetCaption(QStringLiteral("Caption"));
    }
    QFont f = bold.font();
    f.setBold(true);
    bold.setFont(f);
    const QImage plain = Render(&regular);
    EXPECT_EQ(Render(&bold), plain);
    CircButton::BoldCaptions = true;
    EXPECT_EQ(Render(&bold), Render(&regular));
    EXPECT_NE(Render(&regular), plain);
}

TEST_F(CBitBtnTest, ActiveRoleFollowsTheFocus) {
    TForm form;
    auto* edit = new QLineEdit(&form);
    auto* ok = new TCBitBtn(&form);
    auto* other = new TCBitBtn(&form);
    ok->SetKind(bkOK);
    ok->move(0, 30);
    other->move(0, 60);
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    edit->setFocus();
    EXPECT_TRUE(ok->IsActive()); // the default button while an edit has the focus
    EXPECT_FALSE(other->IsActive());
    other->setFocus();
    EXPECT_FALSE(ok->IsActive()); // focus on another button
    EXPECT_TRUE(other->IsActive());
    ok->setFocus();
    EXPECT_TRUE(ok->IsActive());
    EXPECT_FALSE(other->IsActive());
    edit->setFocus();
    ok->SetDefault(false);
    EXPECT_FALSE(ok->IsActive());
    other->SetDefault(true);
    EXPECT_TRUE(other->IsActive());
}

} // namespace
