#pragma once

// Contrast of colours as readers see them, and of text as a window shows it.

#include <QColor>
#include <QHash>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <algorithm>
#include <cmath>

#include "ui/platform/Colours.h"

namespace velloran::testing {

using velloran::ui::ContrastRatio;

// A dark desktop palette, as Plasma's Breeze Dark gives one: light text on dark grey.
inline QPalette DarkPalette() {
    QPalette p;
    const QColor text(239, 240, 241);
    const QColor window(49, 54, 59);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(35, 38, 41));
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(61, 174, 233));
    p.setColor(QPalette::HighlightedText, QColor(252, 252, 252));
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(161, 169, 177));
    p.setColor(QPalette::Light, QColor(64, 70, 76));
    p.setColor(QPalette::Midlight, QColor(59, 64, 69));
    p.setColor(QPalette::Mid, QColor(43, 47, 51));
    p.setColor(QPalette::Dark, QColor(30, 33, 36));
    p.setColor(QPalette::Shadow, QColor(20, 22, 24));
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, QColor(110, 113, 116));
    }
    return p;
}

// What text in area of image reads like: its background is the colour most of the area has, its
// text the pixel farthest from that in contrast (the core of a glyph, where no edge softens it).
struct MeasuredText {
    QColor background;
    QColor text;
    double contrast = 1;
};

inline MeasuredText MeasureText(const QImage& image, const QRect& area) {
    QHash<QRgb, int> counts;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            ++counts[image.pixel(x, y) | 0xff000000];
        }
    }
    MeasuredText measured;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            measured.background = QColor(it.key());
        }
    }
    measured.text = measured.background;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double contrast = ContrastRatio(QColor(it.key()), measured.background);
        if (contrast > measured.contrast) {
            measured.contrast = contrast;
            measured.text = QColor(it.key());
        }
    }
    return measured;
}

}  // namespace velloran::testing
