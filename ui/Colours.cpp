#include "ui/Colours.h"

namespace velloran::ui {

QPalette FixedColours(QPalette palette, QPalette::ColorRole role, QColor background, QColor text) {
    palette.setColor(role, background);
    for (const QPalette::ColorRole textRole :
         {QPalette::Text, QPalette::WindowText, QPalette::HighlightedText}) {
        palette.setColor(textRole, text);
    }
    palette.setColor(QPalette::Highlight, QColor(kFixedSelection));
    return palette;
}

}  // namespace velloran::ui
