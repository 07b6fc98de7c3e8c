#pragma once

#include <QFont>

class QFrame;
class QWidget;

// The program's forms are laid out in pixels at 96 dots per inch for a narrow
// sans-serif dialog font. FormScale turns that layout into this screen's
// pixels: it grows with the screen's logical resolution, and with a font
// whose captions come out wider than the layout allows, so that no caption is
// cut or covered.
class FormScale {
public:
    // Starts at the screen's resolution factor for the form (never below 1).
    explicit FormScale(const QWidget* form);

    // Makes room for a control that needs `needed` pixels where the layout
    // gives it `laidOut` pixels at 96 dots per inch.
    void Fit(int needed, int laidOut);

    double Factor() const { return FFactor; }
    // Pixels at 96 dots per inch in the form's pixels.
    int Px(int pixels) const;
    // Places a control by its 96-dpi bounds.
    void SetBounds(QWidget* control, int left, int top, int width, int height) const;

private:
    double FFactor = 1.0;
};

// At a fractional device pixel ratio (1.5) the contents of a framed control
// whose inner edge falls between two device pixels are drawn over the
// frame's right or bottom line, which then seems cut off. Makes the control
// a little smaller, where needed, so that those edges fall on whole device
// pixels. For a control already placed in its window.
void KeepFrameWhole(QFrame* framed);

// The dialog font of the program's forms at 8 points (11 pixels high at 96
// dots per inch): a narrow sans-serif face whose widths match the layouts
// (Liberation Sans or a face metric-compatible with it) where one is
// installed, so that the layouts hold at their own size; else the system's
// sans-serif face, for which FormScale makes room.
QFont DialogFont(const QFont& base);
