#include "ui/platform/DarkPage.h"

#include <algorithm>

#include "ui/platform/Colours.h"

namespace velloran::ui {
namespace {

constexpr QRgb kLightText = 0xffe8e8e8;
// Black on it stands 8:1, and it stands 5:1 from every dark page.
constexpr QRgb kDarkSelection = 0xff7aa2e0;

bool IsDark(const QPalette& p) {
    return p.color(QPalette::Base).lightnessF() < p.color(QPalette::Text).lightnessF() &&
           p.color(QPalette::Base).lightnessF() < 0.3;
}

}  // namespace

PageColours DarkPageColours(QColor tint, const QPalette& desktop) {
    const QColor base = desktop.color(QPalette::Base);
    const QColor text = desktop.color(QPalette::Text);
    if (IsDark(desktop) && ContrastRatio(base, text) >= kDarkPageContrast) {
        return {base, text};
    }
    // The tint's hue, strong enough to tell sections apart, at a lightness that keeps the
    // light text above 7:1.
    const float hue = std::max(tint.hslHueF(), 0.0f);
    const float saturation = tint.hslSaturationF() > 0 ? 0.35f : 0.0f;
    QColor page = QColor::fromHslF(hue, saturation, 0.13f);
    const QColor light(kLightText);
    while (ContrastRatio(page, light) < kDarkPageContrast && page.lightnessF() > 0.01) {
        page = QColor::fromHslF(hue, saturation, page.lightnessF() - 0.01f);
    }
    return {page, light};
}

QPalette DarkPagePalette(QPalette palette, QPalette::ColorRole role, QColor tint,
                         const QPalette& desktop) {
    const PageColours c = DarkPageColours(tint, desktop);
    palette = FixedColours(palette, role, c.background, c.text);
    palette.setColor(QPalette::Highlight, QColor(kDarkSelection));
    palette.setColor(QPalette::HighlightedText, QColor(kFixedText));
    return palette;
}

}  // namespace velloran::ui
