#include <algorithm>
#include <string>
#include <vector>

#include "Checks.h"
#include "core/commands/Saving.h"
#include "core/document/Error.h"
#include "core/document/Host.h"
#include "core/document/State.h"
#include "core/protection/Cipher.h"
#include "core/protection/SealedDocument.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"

namespace velloran::fuzz {
namespace {

bool SameLines(const DocumentBuffer& a, const DocumentBuffer& b) {
    if (a.LineCount() != b.LineCount()) {
        return false;
    }
    for (std::size_t i = 0; i < a.LineCount(); ++i) {
        if (a.Line(i) != b.Line(i)) {
            return false;
        }
    }
    return true;
}

// The enciphered bytes as the rule gives them: byte j of the whole document, counted across
// line ends, gets key byte j modulo the key length.
std::vector<std::string> Reference(const DocumentBuffer& plain, std::string_view key) {
    std::vector<std::string> out;
    std::size_t j = 0;
    for (std::size_t i = 0; i < plain.LineCount(); ++i) {
        std::string line(plain.Line(i));
        for (char& c : line) {
            if (!key.empty()) {
                c = static_cast<char>(static_cast<unsigned char>(c) +
                                      static_cast<unsigned char>(key[j++ % key.size()]));
            }
        }
        out.push_back(std::move(line));
    }
    return out;
}

const char* Check(std::string_view bytes) {
    if (bytes.empty()) {
        return nullptr;
    }
    const std::size_t keySize =
        std::min<std::size_t>(static_cast<unsigned char>(bytes[0]), bytes.size() - 1);
    const std::string key(bytes.substr(1, keySize));
    DocumentBuffer plain;
    plain.AssignText(std::string(bytes.substr(1 + keySize)));

    DocumentBuffer enciphered = plain;
    KeyIndex index;
    for (std::size_t i = 0; i < enciphered.LineCount(); ++i) {
        EncipherLine(enciphered.MutableLine(i), key, index);
    }
    if (enciphered.Lines() != Reference(plain, key)) {
        return "enciphering does not add the key bytes with one running index";
    }
    DocumentBuffer deciphered = enciphered;
    index = KeyIndex{};
    for (std::size_t i = 0; i < deciphered.LineCount(); ++i) {
        DecipherLine(deciphered.MutableLine(i), key, index);
    }
    if (!SameLines(deciphered, plain)) {
        return "deciphering does not give the lines back";
    }

    const std::string path = ScratchFolder() + "/cipher.vle";
    WriteDocument(path, enciphered);
    DocumentBuffer back;
    ReadDocument(path, back);
    if (ReadsBack(enciphered) != SameLines(back, enciphered)) {
        return "the readability check disagrees with a write and a read";
    }

    // The same through a save, which must refuse exactly what would not read back.
    ResetState();
    PlainSession p;
    State& st = p.session.st;
    st.FileName = ScratchFolder() + "/saved.vle";
    st.Enciphered = true;
    st.CipherKey = key;
    p.dialogs.onKeyPrompt = [&] { return PromptResult{ModalResult::OK, key}; };
    std::string text;
    for (std::size_t i = 0; i < plain.LineCount(); ++i) {
        text.append(plain.Line(i)).append("\r\n");
    }
    p.sections.texts[0] = text;
    bool refused = false;
    try {
        SaveDocument(p.session);
    } catch (const Error& e) {
        // An empty key would leave the text readable under an enciphered name.
        if (key.empty() && e.what() == std::string(kEmptyCipherKey)) {
            return nullptr;
        }
        // Nor is the prompt's own text taken for a key, since anyone could guess it.
        if (key == kKeyPromptText && e.what() == std::string(kPromptTextAsKey)) {
            return nullptr;
        }
        if (e.what() != std::string(kKeyCannotEncipher)) {
            throw;
        }
        refused = true;
    }
    if (refused == ReadsBack(enciphered)) {
        return "the save refuses a key that reads back, or accepts one that does not";
    }
    if (!refused) {
        p.session.buffer.Clear();
        ReadDocument(st.FileName, p.session.buffer);
        DecipherBuffer(p.session);
        if (!SameLines(p.session.buffer, plain)) {
            return "a saved enciphered document does not decipher to its lines";
        }
    }
    return nullptr;
}

}  // namespace

const char* CheckCipher(const std::uint8_t* data, std::size_t size) {
    try {
        return Check(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const Error&) {
        return "reading or writing a file in the scratch folder failed";
    }
}

}  // namespace velloran::fuzz
