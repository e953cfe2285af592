#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "FileAccess.h"
#include "Host.h"
#include "Seal.h"

namespace velloran {

// The answer of one key prompt, a passphrase unless asked otherwise, wiped however the caller
// leaves.
struct TypedKey {
    explicit TypedKey(Session& s, KeyText form = KeyText::Utf8)
        : answer(s.dialogs.AskKeyPrompt(form)) {}
    ~TypedKey() { Wipe(answer.text); }
    TypedKey(const TypedKey&) = delete;
    TypedKey& operator=(const TypedKey&) = delete;
    bool Confirmed() const { return answer.result == ModalResult::OK; }
    PromptResult answer;
};

// Reads the sealed document at path into the buffer, asking for its key with the key prompt
// until one opens it; a wrong key is said and asked again. The key that opened it becomes the key
// in use. False when the prompt was cancelled; then nothing changes. Throws Error when the file
// cannot be read or is damaged, leaving the buffer as it was: nothing is ever half loaded.
bool ReadSealedDocument(Session& s, const std::string& path);

// ReadSealedDocument of FileName, then the split; the file counts as opened from then on.
bool OpenSealedDocument(Session& s);

// Saves FileName, a ".vls" name, sealed. Asks for the key as every enciphered save does: Cancel
// goes on with the key in use, and without one nothing is written; a key that differs from the
// one in use is confirmed first. A sealed file this run could not open is only replaced after a
// question. True when written; false when the user stopped it.
bool SaveSealedDocument(Session& s);

// The "-copy" of a sealed save, sealed with the key in use, with the permission bits of access
// when given, at a name the editor made up; never reports a failure.
void WriteSealedCopy(Session& s, const std::string& path,
                     const std::optional<FileAccess>& access = std::nullopt,
                     Naming naming = Naming::kMadeUp);

// True when path names the sealed file this run could not open.
bool IsUnopenedSealed(const State& st, const std::string& path);

// False when the user declines to replace target: a sealed file this run could not open, or a file
// changed on disk by another program.
bool MayReplace(Session& s, const std::string& target);

inline constexpr std::string_view kReplaceUnopened =
    "%s is a sealed document that was not opened, so the text shown here is not its text. "
    "Replace it with the text shown here?";
inline constexpr std::string_view kSaveUnsealed =
    "%s is not a sealed (.vls) name: the document would be written without encryption. "
    "Write it without encryption?";
inline constexpr std::string_view kEmptySealKey =
    "A sealed document needs a key: an empty key is not accepted. Nothing was saved.";

}  // namespace velloran
