#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/document/Encoding.h"
#include "core/progress/ProgressLog.h"

namespace velloran {

// A day starts at 04:00 local time unless the writer chose another hour.
inline constexpr int kDefaultDayStart = 4;
inline constexpr int kChartDays = 30;

struct DayWords {
    std::int64_t day = 0;  // DayOf
    std::uint64_t words = 0;
};

struct SectionToday {
    std::size_t index = 0;
    std::string title;
    std::uint64_t words = 0;  // now
    std::uint64_t today = 0;  // added today
};

// What the Progress window and velloran-cli progress show.
struct ProgressFigures {
    std::int64_t today = 0;
    std::uint64_t wordsNow = 0;
    std::uint64_t wordsToday = 0;
    int goal = 0;  // words a day; 0 for none
    // Days in a row that met the goal, up to today, or up to yesterday while today has not yet.
    int streak = 0;
    // The last days, oldest first, today last.
    std::vector<DayWords> days;
    // The sections as they are now, each with the words added to it today.
    std::vector<SectionToday> sections;
    Encoding encoding = Encoding::Utf8;  // the titles'
};

// The figures of a history of entries (oldest first), at nowTime:
// - a day's words are the words of its last entry (for today: now, when given) less those of its
//   first, never below zero: deleting is editing. When the day began with a save or a record
//   instead of an opening (a run that went on past the start of the day), they are counted from
//   the last entry before the day, since that is the text the day started with.
// - a section's words today are counted against its section at the start of the day, matched by
//   title where the titles agree and in order between them, so that a section renamed keeps its
//   words; a new section brings all of its words.
// now is the document as it is, where it is open; velloran-cli, which has only the log, gives none.
ProgressFigures ComputeFigures(std::span<const ProgressEntry> history,
                               const std::optional<ProgressEntry>& now, std::int64_t nowTime,
                               int days, int goal, int dayStart);

// Keeps of each day only its first and its last entry, which are all the figures read: entry is
// appended, or takes the place of the day's last one.
void KeepEntry(std::vector<ProgressEntry>& history, ProgressEntry entry, int dayStart);

// For each section of now, the index of its section in before, or nothing for a new one.
std::vector<std::optional<std::size_t>> MatchSections(std::span<const SectionWords> before,
                                                      std::span<const SectionWords> now);

}  // namespace velloran
