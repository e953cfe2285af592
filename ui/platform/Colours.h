#pragma once

#include <QColor>
#include <QPalette>

namespace velloran::ui {

// Text the program draws on a background of its own (the section colours, the list, the
// status notice) takes its colours from the program too, never from the desktop's palette: a
// dark theme's light text on a pale section colour could not be read. Everything else follows
// the desktop.

// Black, on every such background.
inline constexpr QRgb kFixedText = 0xff000000;
// The selection behind black text: at least 3:1 against the text and against the palest to the
// darkest of the backgrounds, so that both the selection and what it selects can be seen.
inline constexpr QRgb kFixedSelection = 0xff3860a8;

// palette with background in role (Base for text areas and lists, Window for a window), text in
// the text roles and the selection behind kFixedText, in every colour group.
QPalette FixedColours(QPalette palette, QPalette::ColorRole role, QColor background,
                      QColor text = QColor(kFixedText));

// The contrast of two colours by their relative luminance in sRGB: 1 for the same, 21 for black
// on white. Readable text needs 4.5, a shape that must be seen 3.
double ContrastRatio(QColor a, QColor b);

// colour where it stands at least ratio from background, else the least blend of it towards
// toward that does: a dark theme's selection colour can be nearly its background.
QColor StandingOut(QColor colour, QColor background, QColor toward, double ratio = 3);

}  // namespace velloran::ui
