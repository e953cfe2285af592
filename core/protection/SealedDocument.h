#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/document/Host.h"
#include "core/protection/Seal.h"

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

// The key a save of target seals with, from the key prompt: Cancel goes on with the key in use,
// and a key that differs from it is confirmed with question first. nullptr when the user declined
// that. Throws Error for an empty passphrase or the prompt's own text (kKeyPromptText), also as the
// key in use, or a prompt cancelled without a key in use.
std::shared_ptr<const SealKey> KeyToSeal(Session& s, const std::shared_ptr<const SealKey>& inUse,
                                         std::string_view question, const std::string& target);

// True when path names the sealed file this run could not open.
bool IsUnopenedSealed(const State& st, const std::string& path);

// What the key prompt's field shows before anything is typed: never taken for a key, since
// anyone could guess it. A legacy document enciphered with it still opens with it.
inline constexpr std::string_view kKeyPromptText = "Encript Key";
inline constexpr std::string_view kPromptTextAsKey =
    "\"Encript Key\" is the key prompt's own text, which anyone could guess: it is not accepted "
    "as a key. Type a key of your own. Nothing was saved.";

inline constexpr std::string_view kNoKeyNothingSaved =
    "%s needs a key, and none was given. Nothing was saved.";
inline constexpr std::string_view kEmptySealKey =
    "A sealed document needs a key: an empty key is not accepted. Nothing was saved.";

}  // namespace velloran
