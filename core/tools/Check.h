#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velloran {

// What opening a document file in the editor and saving it again would change in its bytes,
// and what else in it does not read as the writer may think. Line numbers count from 1, lines
// cut as the editor cuts them; 0 stands for none.
struct DocumentCheck {
    std::size_t lines = 0;
    // Line ends by form. A save writes CR LF after every line.
    std::size_t crLfEnds = 0;
    std::size_t lfEnds = 0;
    std::size_t crEnds = 0;
    std::size_t firstLfLine = 0;
    std::size_t firstCrLine = 0;
    // An empty file is read as one empty line, which a save writes as CR LF.
    bool empty = false;
    bool missingFinalBreak = false;

    // The text (markers and NUL bytes) is not checked for an enciphered document without its key.
    bool textChecked = true;
    std::size_t markers = 0;
    // Marker lines after the fiftieth open no section: they stay lines of section 50.
    std::vector<std::size_t> markersAfterFiftieth;
    // Kept by a save, but many other programs take a NUL byte for the end of the text.
    std::size_t nulBytes = 0;
    std::size_t firstNulLine = 0;

    // For an enciphered document checked with a key: the lines that decipher into a CR or LF
    // byte. The editor would cut such a line in two, so a save writes different bytes; a wrong
    // key, or a file whose enciphering made a line break, gives them.
    bool cipherChecked = false;
    std::vector<std::size_t> linesDecipheringToBreaks;

    bool SaveChangesBytes() const {
        return empty || lfEnds > 0 || crEnds > 0 || missingFinalBreak ||
               !linesDecipheringToBreaks.empty();
    }
};

// Checks a document file's bytes. An enciphered document's text is checked when its key is
// given (key is null otherwise) and then deciphered as the editor deciphers it on opening.
DocumentCheck CheckDocument(std::string_view bytes, bool enciphered, const std::string* key);

}  // namespace velloran
