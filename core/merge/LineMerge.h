#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velloran {

// Lines a side put in place of base lines [baseBegin, baseEnd): its lines [sideBegin, sideEnd).
struct LineHunk {
    std::size_t baseBegin = 0;
    std::size_t baseEnd = 0;
    std::size_t sideBegin = 0;
    std::size_t sideEnd = 0;
    bool operator==(const LineHunk&) const = default;
};

// The fewest lines changed to turn base into side (Myers), in order. Where the two differ beyond
// what a reasonable search finds, the rest of a region is one hunk: never wrong, only coarser.
std::vector<LineHunk> DiffLines(std::span<const std::string_view> base,
                                std::span<const std::string_view> side);

// The marker lines around both versions of lines changed on both sides, without line breaks.
struct ConflictMarkers {
    std::string start;
    std::string middle;
    std::string end;
};

// Three versions of lines merged: a change of one side is taken, the same change on both sides
// once, and where both changed the same or touching lines, both versions are kept, ours first,
// between the markers. Appends the lines, each followed by CR LF, to out; returns the number of
// such conflicts.
int MergeLines(std::span<const std::string_view> base, std::span<const std::string_view> ours,
               std::span<const std::string_view> theirs, const ConflictMarkers& markers,
               std::string& out);

}  // namespace velloran
