#pragma once

#include "controls/BevelFrame.h"
#include "controls/SystemColors.h"

#include <QWidget>
#include <cstdint>
#include <optional>

enum class tbevelshape_ex : std::uint8_t {
    bsxBox,      // rectangle
    bsxcircular, // ellipse inscribed in the rectangle
};

// A decorative frame on its parent's surface: an outer and an inner bevel,
// each of its own kind and ring count, a border between them, and optional
// fills of the outer and the inner area.
class tbevel_ex : public QWidget {
    Q_OBJECT
public:
    explicit tbevel_ex(QWidget* parent = nullptr);

    tbevelshape_ex Shape() const { return FShape; }
    void SetShape(tbevelshape_ex value);
    TPanelBevel_ex BevelOutter() const { return FBevelOutter; }
    void SetBevelOutter(TPanelBevel_ex value);
    int WidthOutter() const { return FWidthOutter; }
    void SetWidthOutter(int value);
    TPanelBevel_ex BevelInner() const { return FBevelInner; }
    void SetBevelInner(TPanelBevel_ex value);
    int WidthInner() const { return FWidthInner; }
    void SetWidthInner(int value);
    // Distance in pixels between the outer and the inner bevel.
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int value);
    int BorderHeight() const { return FBorderHeight; }
    void SetBorderHeight(int value);
    // Fills; no value means no fill.
    std::optional<TColor> ClrOutter() const { return FClrOutter; }
    void SetClrOutter(std::optional<TColor> value);
    std::optional<TColor> ClrInner() const { return FClrInner; }
    void SetClrInner(std::optional<TColor> value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    template <class T> void Assign(T& field, const T& value) {
        if (field != value) {
            field = value;
            update();
        }
    }
    void Fill(QPainter& p, const QRect& r, TColor color) const;

    tbevelshape_ex FShape = tbevelshape_ex::bsxBox;
    TPanelBevel_ex FBevelOutter = TPanelBevel_ex::bvxlowered;
    int FWidthOutter = 1;
    TPanelBevel_ex FBevelInner = TPanelBevel_ex::bvxraised;
    int FWidthInner = 1;
    int FBorderWidth = 4;
    int FBorderHeight = 4;
    std::optional<TColor> FClrOutter;
    std::optional<TColor> FClrInner;
};
