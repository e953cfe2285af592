#include "core/protection/SealedDocument.h"

#include "core/document/Error.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"

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

}  // namespace

std::shared_ptr<const SealKey> KeyToSeal(Session& s, const std::shared_ptr<const SealKey>& inUse,
                                         std::string_view question, const std::string& target) {
    const TypedKey typed(s);
    if (!typed.Confirmed()) {
        if (!inUse) {
            throw Error(Format(kNoKeyNothingSaved, target));
        }
        if (inUse->Matches(kKeyPromptText)) {
            throw Error(std::string(kPromptTextAsKey));
        }
        return inUse;
    }
    const std::string& passphrase = typed.answer.text;
    if (passphrase.empty()) {
        throw Error(std::string(kEmptySealKey));
    }
    if (passphrase == kKeyPromptText) {
        throw Error(std::string(kPromptTextAsKey));
    }
    if (inUse && inUse->Matches(passphrase)) {
        // A key read from a file made with less effort is made again, so that what this editor
        // writes is as hard to attack as anything else it writes.
        return inUse->params().AtLeast(SealingParams())
                   ? inUse
                   : SealKey::Derive(passphrase, SealingParams());
    }
    // As with the legacy cipher: a slip of the finger would leave the file under a key nobody
    // knows, and here nothing could ever recover it.
    if (inUse && !s.dialogs.AskYesNo(std::string(question))) {
        return nullptr;
    }
    return SealKey::Derive(passphrase, SealingParams());
}

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

}  // namespace velloran
