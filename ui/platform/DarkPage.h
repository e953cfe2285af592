#pragma once

#include <QColor>
#include <QPalette>

namespace velloran::ui {

// Text on a dark page stands at least this far from its background.
inline constexpr double kDarkPageContrast = 7;

struct PageColours {
    QColor background;
    QColor text;
};

// The dark page behind a section: the desktop's own base and text where its palette is dark and
// they stand 7:1 apart, else a deep shade of tint (a section's pastel colour, so neighbouring
// sections still differ) under light text.
PageColours DarkPageColours(QColor tint, const QPalette& desktop);

// palette with the dark page in role and its text in the text roles; the selection light
// behind black, readable and apart from the page.
QPalette DarkPagePalette(QPalette palette, QPalette::ColorRole role, QColor tint,
                         const QPalette& desktop);

}  // namespace velloran::ui
