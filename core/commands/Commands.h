#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/document/Host.h"

namespace velloran {

// Chooses the document at start: an argument naming an existing file (or one that hasRecord, when
// given, tells has a recovery record: a document never saved) or a new name in a folder that
// exists, "Velloran.vlp", "Velloran.vle", else the open-file dialog.
void ChooseStartDocument(Session& s, const std::optional<std::string>& argument,
                         const std::function<std::optional<std::string>()>& chooseFile,
                         const std::function<bool(const std::string&)>& hasRecord = {});
// Reads the chosen document, deciphers it when it is named as enciphered and the key prompt
// returns true, and cuts it into sections. A document that does not exist leaves the sections as
// they are, so that a save creates it.
void OpenChosenDocument(Session& s);
// Both, one after the other.
void OpenStartDocument(Session& s, const std::optional<std::string>& argument,
                       const std::function<std::optional<std::string>()>& chooseFile);

// Deciphers the document buffer with a key from the prompt and cuts it into sections anew; a
// buffer that holds nothing read in this run (after a recovery) is read from the file first.
// Unsaved changes are only replaced after the user agreed to discard them. True when the
// sections were cut anew.
bool Decript(Session& s);

// Asks for a key, then saves under the enciphered name.
void SaveEncript(Session& s);

inline constexpr std::string_view kDiscardChanges =
    "The document has unsaved changes. Decript replaces them with the text as it was last read, "
    "saved or reloaded. Discard the unsaved changes?";

}  // namespace velloran
