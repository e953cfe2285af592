#pragma once

#include <QString>
#include <QStringView>
#include <string>
#include <string_view>

class QWidget;

namespace velloran::ui {

// The document's bytes as text, and text as the document's bytes, through its encoding: the one
// way the list, the captions, the search field, the result rows and the statistics take it.
// Characters the encoding cannot hold become "?".
QString DocumentText(std::string_view bytes);
std::string DocumentBytes(QStringView text);

// Titles are shown cut to this many characters: a line of megabytes would take seconds to lay
// out at every repaint. What is shown is never read back; the full bytes stay with the title.
inline constexpr qsizetype kShownTitleLength = 300;

// A title line as the list, the captions and the search rows show it, elided with "…".
QString ShownTitle(QString text);
QString ShownTitle(std::string_view bytes);

// Sets a caption taken from a text or a file name, shown exactly as given: the toolkit would
// read "[*]" as its placeholder for the modified marker.
void SetCaption(QWidget* w, const QString& text);

}  // namespace velloran::ui
