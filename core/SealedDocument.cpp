#include "SealedDocument.h"

#include "Cipher.h"
#include "Document.h"
#include "Error.h"
#include "FileIO.h"
#include "Saving.h"
#include "Seal.h"

namespace velloran {
namespace {

std::shared_ptr<const SealKey> KeyToOpen(Session& s, const std::string& path,
                                         const SealHeader& header, bool previousWrong) {
    if (previousWrong) {
        s.dialogs.ShowMessage(Format(kWrongKey, path));
    }
    const TypedKey typed(s);
    if (!typed.Confirmed()) {
        return nullptr;
    }
    const auto& inUse = s.st.SealKeyInUse;
    if (inUse && inUse->Fits(header.salt, header.params) && inUse->Matches(typed.answer.text)) {
        return inUse;
    }
    return SealKey::Derive(typed.answer.text, header.salt, header.params);
}

// The key a save seals with; nothing when nothing is to be written.
std::shared_ptr<const SealKey> KeyToSeal(Session& s) {
    const State& st = s.st;
    const TypedKey typed(s);
    const std::shared_ptr<const SealKey>& inUse = st.SealKeyInUse;
    if (!typed.Confirmed()) {
        return inUse;
    }
    const std::string& passphrase = typed.answer.text;
    if (passphrase.empty()) {
        throw Error(std::string(kEmptySealKey));
    }
    if (inUse && inUse->Matches(passphrase)) {
        // A key read from a file made with less effort is made again, so that what this editor
        // writes is as hard to attack as anything else it writes.
        return inUse->params().AtLeast(st.SealingParams)
                   ? inUse
                   : SealKey::Derive(passphrase, st.SealingParams);
    }
    // As with the legacy cipher: a slip of the finger would leave the file under a key nobody
    // knows, and here nothing could ever recover it.
    if (inUse && !s.dialogs.AskYesNo(std::string(kKeyDiffersDocument))) {
        return nullptr;
    }
    return SealKey::Derive(passphrase, st.SealingParams);
}

void WriteSealed(const std::string& path, const SealKey& key, const DocumentBuffer& lines,
                 const std::optional<FileAccess>& access = std::nullopt,
                 Naming naming = Naming::kGiven) {
    WriteSealedFile(
        path, key,
        [&](SealWriter& writer) {
            lines.ForEachCrLfPiece(0, lines.LineCount(),
                                   [&](std::string_view piece) { writer.Write(piece); });
        },
        access, naming);
}

}  // namespace

bool IsUnopenedSealed(const State& st, const std::string& path) {
    if (st.UnopenedSealed.empty()) {
        return false;
    }
    if (st.UnopenedSealed == path) {
        return true;
    }
    const auto unopened = IdentityOf(st.UnopenedSealed);
    const auto other = IdentityOf(path);
    return unopened && other && unopened->device == other->device &&
           unopened->inode == other->inode;
}

bool ReadSealedDocument(Session& s, const std::string& path) {
    std::shared_ptr<const SealKey> key;
    auto plain = UnsealFile(
        path,
        [&](const SealHeader& header, bool previousWrong) {
            return KeyToOpen(s, path, header, previousWrong);
        },
        &key, DocumentSizeLimit());
    if (!plain) {
        return false;
    }
    s.buffer.AssignText(std::move(*plain));
    s.st.SealKeyInUse = std::move(key);
    s.st.Sealed = true;
    return true;
}

bool OpenSealedDocument(Session& s) {
    State& st = s.st;
    if (!ReadSealedDocument(s, st.FileName)) {
        return false;
    }
    RememberOnDisk(st, st.FileName);
    if (IsUnopenedSealed(st, st.FileName)) {
        st.UnopenedSealed.clear();
    }
    SplitSections(s);
    return true;
}

bool SaveSealedDocument(Session& s) {
    State& st = s.st;
    const std::string target = st.FileName;
    st.EncFileName = EncipheredName(target);
    // Asked before the key, so that a save the user stops costs no key derivation.
    if (!MayReplace(s, target)) {
        return false;
    }
    const std::shared_ptr<const SealKey> key = KeyToSeal(s);
    if (!key) {
        return false;
    }
    st.SealKeyInUse = key;
    st.Sealed = true;
    st.Enciphered = false;  // sealed now, no longer scrambled

    s.buffer = JoinedSections(s);
    MakeBackups(s, target);
    WriteSealed(target, *key, s.buffer);
    RememberOnDisk(st, target);
    if (IsUnopenedSealed(st, target)) {
        st.UnopenedSealed.clear();
    }
    st.Modified = false;
    s.dialogs.ShowStatusNotice(target);
    return true;
}

void WriteSealedCopy(Session& s, const std::string& path, const std::optional<FileAccess>& access,
                     Naming naming) {
    if (!s.st.SealKeyInUse) {
        return;
    }
    try {
        WriteSealed(path, *s.st.SealKeyInUse, JoinedSections(s), access, naming);
    } catch (const Error&) {
        // A backup never stops the save; the earlier copy is still whole.
    }
}

bool MayReplace(Session& s, const std::string& target) {
    if (IsUnopenedSealed(s.st, target) && !s.dialogs.AskYesNo(Format(kReplaceUnopened, target))) {
        return false;
    }
    // Another instance or program may have saved its own work there since; ours would bury it.
    return !ChangedOnDisk(s.st, target) || s.dialogs.AskYesNo(Format(kChangedOnDisk, target));
}

}  // namespace velloran
