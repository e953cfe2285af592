#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "DocumentBuffer.h"
#include "FileIO.h"
#include "Host.h"

namespace velloran {

// The marker letter of a line in upper case, or a blank; a line opens a section when it is 'S'.
char MarkerLetter(std::string_view line);
inline bool IsMarkerLine(std::string_view line) {
    return MarkerLetter(line) == 'S';
}

// Fills the slots and the section list from the document buffer, after deciding the document's
// encoding from its bytes (DetectEncoding), which it never changes.
void SplitSections(Session& s);
// Rebuilds the document buffer from slots 0 to LastSection.
void JoinSections(Session& s);
// The lines of slots 0 to LastSection, built aside.
DocumentBuffer JoinedSections(Session& s);
// Re-cuts the text in the editors into sections and marks the document modified.
void ReloadSections(Session& s);

// The largest document that is read: the editors hold several times its size, and their
// positions must stay within int.
std::size_t DocumentSizeLimit();

// Reads a whole document into the buffer; the buffer is only replaced once the read succeeded.
// A file larger than limit is refused as unreadable.
void ReadDocument(const std::string& path, DocumentBuffer& buffer,
                  std::size_t limit = DocumentSizeLimit());
// The bytes of a document file, mapped rather than read, for a single pass over a large file.
// Refuses what ReadDocument refuses, with the same message.
MappedFile MapDocument(const std::string& path, std::size_t limit = DocumentSizeLimit());
// Writes every line followed by CR LF, replacing the file only once every byte is on disk (see
// ReplaceFile, which follows naming); access, when given, sets the file's permission bits and
// group.
void WriteDocument(const std::string& path, const DocumentBuffer& buffer,
                   const std::optional<FileAccess>& access = std::nullopt,
                   Naming naming = Naming::kGiven);

// Notes the file at path as this run has it now (after a read or a write).
void RememberOnDisk(State& st, const std::string& path);
// True when the file at path is one this run read or wrote and it has changed on disk since.
bool ChangedOnDisk(const State& st, const std::string& path);

inline constexpr std::string_view kCannotOpen = "Cannot open file %s";
inline constexpr std::string_view kCannotCreate = "Cannot create file %s";
inline constexpr std::string_view kChangedOnDisk =
    "%s has been changed on disk by another program since it was opened or saved here. "
    "Overwrite the version on disk?";

}  // namespace velloran
