#pragma once

// How a document is kept from other eyes on disk. It is decided here alone, from the document's
// name and the run's state: opening, saving, backups, recovery records and velloran-cli ask this
// part instead of looking at the name themselves.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/document/DocumentBuffer.h"
#include "core/document/Host.h"
#include "core/document/State.h"
#include "core/storage/FileAccess.h"

namespace velloran {

class SealKey;

enum class Protection {
    Plain,
    // The legacy cipher (".vle"): every byte shifted by a typed key, which any determined reader
    // undoes; kept so that old files stay readable.
    Enciphered,
    // Sealed (".vls"): encrypted and authenticated under a key derived from a passphrase.
    Sealed,
};

// What a file of this name holds: ".vls" sealed, ".vle" enciphered, any other name plain.
Protection ProtectionOfName(std::string_view path);

// What a save of the run's document under fileName writes: sealed under a ".vls" name;
// enciphered once the document is enciphered, or under a ".vle" name; plain otherwise.
Protection SaveProtection(const State& st, std::string_view fileName);
inline Protection SaveProtection(const State& st) {
    return SaveProtection(st, st.FileName);
}
// True when a save in protection p would write a sealed document's text without encryption.
bool WouldUnseal(const State& st, Protection p);
// The file that save writes: fileName, or its enciphered name for an enciphered document.
std::string SaveTarget(const State& st, const std::string& fileName);
inline std::string SaveTarget(const State& st) {
    return SaveTarget(st, st.FileName);
}
// SaveTarget made absolute: the document that what is kept beside it (recovery records, progress
// logs) belongs to.
std::string DocumentPath(const State& st);

// ---- reading

// Reads the document file at path into the buffer as its name says it is kept, and notes it as
// read: a sealed file asks for its key until one opens it; an enciphered one is deciphered when
// the key prompt returns true. False when nothing was read (a sealed file's prompt was
// cancelled); then the buffer is as it was and a save will not replace the file unasked.
bool OpenDocumentFile(Session& s, const std::string& path);

// Decript's reading: the document again with a key from the prompt, from its file for a sealed
// document, else from the buffer (read from the file first when it holds nothing read in this
// run, or what a wrong key made of it). False when the prompt was cancelled and nothing changed.
bool ReadWithNewKey(Session& s);

// The text of the document file at path as this run reads it with the keys in use, asking
// nothing: deciphered with the key in use once the document is enciphered (as the editors show
// it), unsealed with the passphrase of the sealed document. Throws Error saying why it cannot be
// read so: it cannot be read, is damaged, or the key in use does not open it.
SharedBytes ReadWithKeysInUse(const State& st, const std::string& path);
// The same for the file open at fd (left open), which path names.
SharedBytes ReadWithKeysInUse(const State& st, const std::string& path, int fd);

// Notes text, deciphered, as the document's file at path holds it now that this run read or
// wrote it: the base a later change on disk is merged from.
void KeepMergeBase(State& st, const std::string& path, SharedBytes text);

// Save Encript's key: for the legacy cipher, the key prompt, after which the document is
// enciphered (true when it is); a sealed document asks at its save, so true at once.
bool AskKeyToEncipher(Session& s);

// ---- writing

// The way one save writes the document: its protection and the key given for it. The key only
// becomes the one in force (KeepKey) once the file is written, so that a save that does not go
// on, or fails, leaves the run's keys as they were.
class DocumentWriter {
  public:
    // The key prompt of a save in protection p, as every enciphered save has it: Cancel goes on
    // with the key in force (inForce's, else the run's), and a key that differs from it is
    // confirmed with question first. Nothing when the user declined that, or declined to replace
    // an enciphered target whose text the key that deciphered it made unreadable. Throws Error
    // when there is no key to write with: then nothing is written.
    static std::optional<DocumentWriter> Ask(Session& s, Protection p, const std::string& target,
                                             std::string_view question,
                                             const DocumentWriter* inForce = nullptr);
    // The key in force, asking nothing; for a plain document, or one without a key yet, a
    // writer that writes plain text.
    static DocumentWriter InForce(const State& st, Protection p);

    // The writer of this save's "-copy": the legacy cipher asks for the key once more (the copy
    // alone uses what is typed there); a sealed copy is sealed with this save's key. Nothing when
    // no copy is to be written.
    std::optional<DocumentWriter> ForCopy(Session& s) const;

    Protection protection() const { return protection_; }
    // Slots 0 to LastSection as they go to the file: enciphered for the legacy cipher, with one
    // running index. Throws Error when a line would not read back as one line.
    DocumentBuffer Lines(Session& s) const;
    // Writes lines, as Lines gave them, to path, replacing it only once every byte is on disk,
    // following a symbolic link there only as naming allows. Throws "Cannot create file %s".
    void Write(const std::string& path, const DocumentBuffer& lines,
               const std::optional<FileAccess>& access = std::nullopt,
               Naming naming = Naming::kGiven) const;
    // After the save: its key is the one in force, and the document is kept as written.
    void KeepKey(State& st) const;

    DocumentWriter(const DocumentWriter&) = default;
    DocumentWriter(DocumentWriter&&) = default;
    DocumentWriter& operator=(const DocumentWriter&) = default;
    DocumentWriter& operator=(DocumentWriter&&) = default;
    ~DocumentWriter();

  private:
    explicit DocumentWriter(Protection p) : protection_(p) {}
    Protection protection_;
    std::string legacyKey_;
    std::shared_ptr<const SealKey> sealKey_;
};

// ---- what is kept beside the document

// How what is kept beside the document (recovery records, progress logs) hides its text: not at
// all for a plain document; with the sealed document's own key; or with a key derived from the
// legacy cipher's key, since that cipher must never see text whose plain form can be guessed.
// A text read from a sealed file stays as secret as the file, whatever a save would write.
struct SideKey {
    enum class Kind { None, DocumentKey, DerivedKey };
    Kind kind = Kind::None;
    std::shared_ptr<const SealKey> documentKey;
    std::string legacyKey;
    SideKey() = default;
    SideKey(const SideKey&) = default;
    SideKey(SideKey&&) = default;
    SideKey& operator=(const SideKey&) = default;
    SideKey& operator=(SideKey&&) = default;
    ~SideKey();
};
// Nothing while a key is needed and the run has none yet (a new ".vle" or ".vls" document
// before its first save): then nothing may be kept.
std::optional<SideKey> SideKeyOf(const State& st);

// Wipes the keys of the run from memory; at exit.
void ForgetKeys(State& st);

inline constexpr std::string_view kKeyCannotEncipher =
    "This key cannot encipher this document: the enciphered file could not be read back. "
    "Please save again with another key.";
inline constexpr std::string_view kKeyDiffersDocument =
    "The key differs from the one in use. Encipher the document with the new key?";
inline constexpr std::string_view kKeyDiffersCopy =
    "The key differs from the one in use. Encipher the backup copy with the new key?";
// A right key never deciphers a byte into a line break: a save refuses to write one.
inline constexpr std::string_view kKeyMakesBreaks =
    "This key turns %s into line breaks; it is most likely wrong.";
inline constexpr std::string_view kReplaceAfterWrongKey =
    "The text shown was deciphered with a key that turned bytes into line breaks, so it is most "
    "likely not the text of %s. Saving it would leave the file unreadable with any key. Replace "
    "%s all the same?";
inline constexpr std::string_view kKeyInUseBreaks = "the key in use deciphers it into other lines";
inline constexpr std::string_view kNoKeyInUse = "no key is in use to read it with";
inline constexpr std::string_view kEmptyCipherKey =
    "An enciphered document needs a key: an empty key would leave the text readable. Nothing "
    "was saved.";

}  // namespace velloran
