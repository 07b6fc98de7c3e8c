#pragma once

#include "controls/SystemColors.h"

#include <QRect>

class QPainter;

// Fills rect with vertical bands that run from the top colour to the bottom
// colour. The number of bands follows the height and the largest colour
// step; the last band has exactly the bottom colour and ends on the last row.
void DrawGradient(QPainter& canvas, const QRect& rect, TColor top, TColor bottom);
