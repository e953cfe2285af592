#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/document/DocumentBuffer.h"
#include "core/document/State.h"
#include "core/storage/FileIO.h"

namespace velloran {

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
