#include "ui/platform/Colours.h"

#include <algorithm>
#include <cmath>

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

double ContrastRatio(QColor a, QColor b) {
    const auto luminance = [](QColor c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor StandingOut(QColor colour, QColor background, QColor toward, double ratio) {
    const auto mix = [&](double t) {
        return QColor::fromRgbF(
            static_cast<float>(colour.redF() + (toward.redF() - colour.redF()) * t),
            static_cast<float>(colour.greenF() + (toward.greenF() - colour.greenF()) * t),
            static_cast<float>(colour.blueF() + (toward.blueF() - colour.blueF()) * t));
    };
    for (int step = 0; step <= 20; ++step) {
        const QColor c = mix(step / 20.0);
        if (ContrastRatio(c, background) >= ratio) {
            return c;
        }
    }
    return toward;
}

}  // namespace velloran::ui
