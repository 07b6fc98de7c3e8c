#pragma once

#include "controls/SystemColors.h"

#include <QWidget>
#include <cstdint>

enum class TPanelBevel : std::uint8_t { bvNone, bvLowered, bvRaised, bvSpace };

// A container with an outer and an inner bevel, a border between them and a
// centred caption, filled with its colour.
class g_panel : public QWidget {
    Q_OBJECT
public:
    explicit g_panel(QWidget* parent = nullptr);

    TPanelBevel BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TPanelBevel value);
    TPanelBevel BevelInner() const { return FBevelInner; }
    void SetBevelInner(TPanelBevel value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int value);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int value);
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TPanelBevel FBevelOuter = TPanelBevel::bvRaised;
    TPanelBevel FBevelInner = TPanelBevel::bvNone;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    QString FCaption;
    TColor FColor = clBtnFace;
};
