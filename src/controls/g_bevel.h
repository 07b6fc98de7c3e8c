#pragma once

#include <QWidget>
#include <cstdint>

enum class TBevelShape : std::uint8_t {
    bsBox,
    bsFrame,
    bsTopLine,
    bsBottomLine,
    bsLeftLine,
    bsRightLine,
    bsSpacer
};
enum class TBevelStyle : std::uint8_t { bsLowered, bsRaised };

// A bevelled box, etched frame or line on its parent's surface.
class g_bevel : public QWidget {
    Q_OBJECT
public:
    explicit g_bevel(QWidget* parent = nullptr);

    TBevelShape Shape() const { return FShape; }
    void SetShape(TBevelShape value);
    TBevelStyle Style() const { return FStyle; }
    void SetStyle(TBevelStyle value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBevelShape FShape = TBevelShape::bsBox;
    TBevelStyle FStyle = TBevelStyle::bsLowered;
};
