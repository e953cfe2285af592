#include "core/protection/Protection.h"

#include <fcntl.h>

#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/protection/Cipher.h"
#include "core/protection/Seal.h"
#include "core/protection/SealedDocument.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "core/storage/Paths.h"

namespace velloran {
namespace {

// Deciphers the buffer with CipherKey, telling the user when the key cannot be the right one.
void DecipherAndTell(Session& s) {
    const std::size_t breaks = DecipherBuffer(s);
    if (breaks == 1) {
        s.dialogs.ShowMessage(Format(kKeyMakesBreaks, "1 byte into a line break"));
    } else if (breaks > 1) {
        s.dialogs.ShowMessage(
            Format(kKeyMakesBreaks, std::to_string(breaks) + " bytes into line breaks"));
    }
}

// The sealed file at path read into the buffer with its key; it counts as opened from then on.
bool OpenSealedFile(Session& s, const std::string& path) {
    State& st = s.st;
    if (!ReadSealedDocument(s, path)) {
        return false;
    }
    RememberOnDisk(st, path);
    KeepMergeBase(st, path, s.buffer.Bytes());
    if (IsUnopenedSealed(st, path)) {
        st.UnopenedSealed.clear();
    }
    return true;
}

}  // namespace

Protection ProtectionOfName(std::string_view path) {
    if (IsSealedName(path)) {
        return Protection::Sealed;
    }
    return IsEncipheredName(path) ? Protection::Enciphered : Protection::Plain;
}

Protection SaveProtection(const State& st, std::string_view fileName) {
    const Protection named = ProtectionOfName(fileName);
    if (named == Protection::Plain && st.Enciphered) {
        return Protection::Enciphered;
    }
    return named;
}

bool WouldUnseal(const State& st, Protection p) {
    return st.Sealed && p != Protection::Sealed;
}

std::string SaveTarget(const State& st, const std::string& fileName) {
    return SaveProtection(st, fileName) == Protection::Enciphered ? EncipheredName(fileName)
                                                                  : fileName;
}

std::string DocumentPath(const State& st) {
    return AbsolutePath(SaveTarget(st));
}

// ---- reading

bool OpenDocumentFile(Session& s, const std::string& path) {
    State& st = s.st;
    switch (ProtectionOfName(path)) {
        case Protection::Sealed:
            // Until it is read, a save must not replace it with the empty sections shown.
            st.UnopenedSealed = path;
            RememberOnDisk(st, path);
            return OpenSealedFile(s, path);
        case Protection::Enciphered:
            ReadDocument(path, s.buffer);
            RememberOnDisk(st, path);
            if (AskKey(s)) {
                DecipherAndTell(s);
            }
            KeepMergeBase(st, path, s.buffer.Bytes());
            return true;
        case Protection::Plain:
            ReadDocument(path, s.buffer);
            RememberOnDisk(st, path);
            KeepMergeBase(st, path, s.buffer.Bytes());
            return true;
    }
    return false;
}

bool ReadWithNewKey(Session& s) {
    State& st = s.st;
    if (ProtectionOfName(st.FileName) == Protection::Sealed) {
        return OpenSealedFile(s, st.FileName);
    }
    if (!AskKey(s)) {
        return false;
    }
    // As last saved: under the enciphered name once the document is enciphered. A buffer that
    // a wrong key deciphered is known not to be the file's text: the file is read again.
    const std::string source = SaveTarget(st);
    if ((s.buffer.Empty() || st.DecipheredBreaks > 0) && IsExistingFile(source)) {
        ReadDocument(source, s.buffer);
    }
    DecipherAndTell(s);
    KeepMergeBase(st, source, s.buffer.Bytes());
    return true;
}

SharedBytes ReadWithKeysInUse(const State& st, const std::string& path) {
    // Opened without waiting, so that a FIFO without a writer is refused rather than hanging.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        throw Error(Format(kCannotOpen, path));
    }
    return ReadWithKeysInUse(st, path, fd.get());
}

SharedBytes ReadWithKeysInUse(const State& st, const std::string& path, int fd) {
    switch (ProtectionOfName(path) == Protection::Sealed ? Protection::Sealed
                                                         : SaveProtection(st, path)) {
        case Protection::Sealed: {
            const std::shared_ptr<const SealKey>& inUse = st.SealKeyInUse;
            if (!inUse) {
                throw Error(std::string(kNoKeyInUse));
            }
            // Another save with the same passphrase seals with a salt of its own.
            auto plain = UnsealOpenFile(
                fd, path,
                [&](const SealHeader& header,
                    bool previousWrong) -> std::shared_ptr<const SealKey> {
                    if (previousWrong) {
                        throw Error(Format(kWrongKey, path));
                    }
                    return inUse->Fits(header.salt, header.params)
                               ? inUse
                               : inUse->WithSaltOf(header.salt, header.params);
                },
                nullptr, DocumentSizeLimit());
            return std::make_shared<const std::string>(std::move(*plain));
        }
        case Protection::Enciphered:
        case Protection::Plain:
            break;
    }
    auto bytes = ReadWholeFile(fd, DocumentSizeLimit());
    if (!bytes) {
        throw Error(Format(kCannotOpen, path));
    }
    DocumentBuffer lines;
    lines.AssignText(std::move(*bytes));
    // Read as the editors show it: as read, until a key deciphered it.
    if (SaveProtection(st, path) == Protection::Enciphered && st.Enciphered) {
        KeyIndex index;
        for (std::size_t i = 0; i < lines.LineCount(); ++i) {
            const std::span<char> line = lines.MutableLine(i);
            DecipherLine(line, st.CipherKey, index);
            if (!ReadsBack(std::string_view(line.data(), line.size()))) {
                throw Error(std::string(kKeyInUseBreaks));
            }
        }
    }
    return lines.Bytes();
}

void KeepMergeBase(State& st, const std::string& path, SharedBytes text) {
    st.MergeBase = std::move(text);
    st.MergeBasePath = path;
    st.UnreadableOnDisk.reset();
}

bool AskKeyToEncipher(Session& s) {
    return ProtectionOfName(s.st.FileName) == Protection::Sealed || AskKey(s);
}

// ---- writing

DocumentWriter::~DocumentWriter() {
    Wipe(legacyKey_);
}

std::optional<DocumentWriter> DocumentWriter::Ask(Session& s, Protection p,
                                                  const std::string& target,
                                                  std::string_view question,
                                                  const DocumentWriter* inForce) {
    const State& st = s.st;
    DocumentWriter writer(p);
    switch (p) {
        case Protection::Plain:
            break;
        case Protection::Enciphered: {
            // Such a text enciphered again has other line breaks than the key's stream expects:
            // the file could never be deciphered again, with any key.
            if (!inForce && st.DecipheredBreaks > 0 && IsExistingFile(target) &&
                !s.dialogs.AskYesNo(Format(Format(kReplaceAfterWrongKey, target), target))) {
                return std::nullopt;
            }
            static const std::string kNone;
            const std::string& keyInForce =
                inForce ? inForce->legacyKey_ : (st.Enciphered ? st.CipherKey : kNone);
            const TypedKey typed(s, KeyText::CodePage);
            if (!typed.Confirmed() && keyInForce.empty()) {
                throw Error(Format(kNoKeyNothingSaved, target));
            }
            writer.legacyKey_ = typed.Confirmed() ? typed.answer.text : keyInForce;
            if (writer.legacyKey_.empty()) {
                throw Error(std::string(kEmptyCipherKey));
            }
            if (writer.legacyKey_ == kKeyPromptText) {
                throw Error(std::string(kPromptTextAsKey));
            }
            // The prompt never shows the key in force, so a different key is most likely a
            // typing slip that would leave the file under a key nobody knows.
            if (!keyInForce.empty() && writer.legacyKey_ != keyInForce &&
                !s.dialogs.AskYesNo(std::string(question))) {
                return std::nullopt;
            }
            break;
        }
        case Protection::Sealed:
            writer.sealKey_ =
                KeyToSeal(s, inForce ? inForce->sealKey_ : st.SealKeyInUse, question, target);
            if (!writer.sealKey_) {
                return std::nullopt;
            }
            break;
    }
    return writer;
}

DocumentWriter DocumentWriter::InForce(const State& st, Protection p) {
    DocumentWriter writer(p);
    if (p == Protection::Enciphered) {
        writer.legacyKey_ = st.CipherKey;
    } else if (p == Protection::Sealed) {
        writer.sealKey_ = st.SealKeyInUse;
    }
    return writer;
}

std::optional<DocumentWriter> DocumentWriter::ForCopy(Session& s) const {
    switch (protection_) {
        case Protection::Plain:
            return *this;
        case Protection::Enciphered:
            try {
                return Ask(s, protection_, std::string(), kKeyDiffersCopy, this);
            } catch (const Error&) {
                return std::nullopt;  // a backup never stops the save
            }
        case Protection::Sealed:
            if (!sealKey_) {
                return std::nullopt;
            }
            return *this;
    }
    return std::nullopt;
}

DocumentBuffer DocumentWriter::Lines(Session& s) const {
    DocumentBuffer lines = JoinedSections(s);
    if (protection_ == Protection::Enciphered) {
        KeyIndex index;
        for (std::size_t i = 0; i < lines.LineCount(); ++i) {
            const std::span<char> line = lines.MutableLine(i);
            EncipherLine(line, legacyKey_, index);
            // A CR or LF made by the cipher would cut the line when read back, and the rest of
            // the file could never be deciphered.
            if (!ReadsBack(std::string_view(line.data(), line.size()))) {
                throw Error(std::string(kKeyCannotEncipher));
            }
        }
    }
    return lines;
}

void DocumentWriter::Write(const std::string& path, const DocumentBuffer& lines,
                           const std::optional<FileAccess>& access, Naming naming) const {
    if (protection_ != Protection::Sealed) {
        WriteDocument(path, lines, access, naming);
        return;
    }
    WriteSealedFile(
        path, *sealKey_,
        [&](SealWriter& writer) {
            lines.ForEachCrLfPiece(0, lines.LineCount(),
                                   [&](std::string_view piece) { writer.Write(piece); });
        },
        access, naming);
}

void DocumentWriter::KeepKey(State& st) const {
    switch (protection_) {
        case Protection::Plain:
            st.Sealed = false;
            break;
        case Protection::Enciphered:
            st.CipherKey = legacyKey_;
            st.Enciphered = true;
            st.Sealed = false;
            // The file now holds what is shown, whatever key deciphered it.
            st.DecipheredBreaks = 0;
            break;
        case Protection::Sealed:
            st.SealKeyInUse = sealKey_;
            st.Sealed = true;
            st.Enciphered = false;  // sealed now, no longer scrambled
            break;
    }
}

// ---- what is kept beside the document

SideKey::~SideKey() {
    Wipe(legacyKey);
}

std::optional<SideKey> SideKeyOf(const State& st) {
    SideKey key;
    if (st.Sealed || ProtectionOfName(st.FileName) == Protection::Sealed) {
        if (!st.SealKeyInUse) {
            return std::nullopt;
        }
        key.kind = SideKey::Kind::DocumentKey;
        key.documentKey = st.SealKeyInUse;
    } else if (SaveProtection(st) == Protection::Enciphered) {
        if (st.CipherKey.empty()) {
            return std::nullopt;
        }
        key.kind = SideKey::Kind::DerivedKey;
        key.legacyKey = st.CipherKey;
    }
    return key;
}

void ForgetKeys(State& st) {
    Wipe(st.CipherKey);
    st.SealKeyInUse.reset();  // the last holder wipes it
}

}  // namespace velloran
