#include "core/spelling/Speller.h"

#include <hunspell/hunspell.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "core/document/Error.h"
#include "core/storage/FileIO.h"

namespace velloran::spelling {
namespace {

constexpr std::string_view kRightQuote = "\xE2\x80\x99";

// Converts between encodings through iconv; false when the text holds what the target cannot.
bool Convert(iconv_t cd, std::string_view in, std::string& out) {
    out.clear();
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        out.assign(in);
        return true;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string buffer(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = buffer.data();
    std::size_t dstLeft = buffer.size();
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
        return false;
    }
    out.assign(buffer.data(), static_cast<std::size_t>(dst - buffer.data()));
    return true;
}

// Hunspell's names for encodings, as iconv knows them.
std::string IconvName(std::string name) {
    if (name.starts_with("microsoft-")) {
        name = name.substr(10);
    }
    return name;
}

bool IsUtf8Name(std::string_view name) {
    return name == "UTF-8" || name == "utf-8" || name == "UTF8" || name == "utf8";
}

}  // namespace

struct Speller::Handle {
    Hunhandle* hunspell = nullptr;
    iconv_t toDictionary = reinterpret_cast<iconv_t>(-1);
    iconv_t fromDictionary = reinterpret_cast<iconv_t>(-1);
    ~Handle() {
        if (toDictionary != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(toDictionary);
        }
        if (fromDictionary != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(fromDictionary);
        }
        if (hunspell) {
            Hunspell_destroy(hunspell);
        }
    }
};

Speller::Speller(const Dictionary& dictionary)
    : dictionary_(dictionary), handle_(std::make_unique<Handle>()) {
    // Hunspell makes an empty dictionary of files it cannot read.
    if (::access(dictionary.aff.c_str(), R_OK) != 0 ||
        ::access(dictionary.dic.c_str(), R_OK) != 0) {
        throw Error("Cannot open the spelling dictionary " + dictionary.dic);
    }
    handle_->hunspell = Hunspell_create(dictionary.aff.c_str(), dictionary.dic.c_str());
    if (!handle_->hunspell) {
        throw Error("Cannot open the spelling dictionary " + dictionary.dic);
    }
    const std::string encoding = IconvName(Hunspell_get_dic_encoding(handle_->hunspell));
    if (!IsUtf8Name(encoding)) {
        handle_->toDictionary = iconv_open(encoding.c_str(), "UTF-8");
        handle_->fromDictionary = iconv_open("UTF-8", encoding.c_str());
        if (handle_->toDictionary == reinterpret_cast<iconv_t>(-1) ||
            handle_->fromDictionary == reinterpret_cast<iconv_t>(-1)) {
            throw Error("The spelling dictionary " + dictionary.dic +
                        " is in an unknown encoding, " + encoding);
        }
    }
    LearnScripts();
}

// From the letters the dictionary suggests with and those of its words: no dictionary says
// which scripts it is for, and a Latin TRY line alone would leave the Cyrillic words of a
// Serbian one unchecked.
void Speller::LearnScripts() {
    auto add = [&](std::string_view own) {
        std::string utf8;
        if (FromDictionary(own, utf8)) {
            scripts_.AddText(utf8);
        }
    };
    auto lines = [](std::string_view bytes, auto&& each) {
        for (std::size_t at = 0; at < bytes.size();) {
            std::size_t end = bytes.find('\n', at);
            if (end == std::string_view::npos) {
                end = bytes.size();
            }
            each(bytes.substr(at, end - at));
            at = end + 1;
        }
    };
    if (const auto aff = MappedFile::Open(dictionary_.aff)) {
        lines(aff->Bytes(), [&](std::string_view line) {
            for (std::string_view key : {"TRY", "WORDCHARS"}) {
                if (line.size() > key.size() && line.starts_with(key) &&
                    (line[key.size()] == ' ' || line[key.size()] == '\t')) {
                    add(line.substr(key.size()));
                }
            }
        });
    }
    if (const auto dic = MappedFile::Open(dictionary_.dic)) {
        bool first = true;
        lines(dic->Bytes(), [&](std::string_view line) {
            if (std::exchange(first, false)) {
                return;  // the count of words
            }
            add(line.substr(0, line.find_first_of("/\t ")));
        });
    }
}

Speller::~Speller() = default;

bool Speller::ToDictionary(std::string_view word, std::string& out) const {
    return Convert(handle_->toDictionary, word, out);
}

bool Speller::FromDictionary(std::string_view word, std::string& out) const {
    return Convert(handle_->fromDictionary, word, out);
}

bool Speller::CheckAsIs(std::string_view word) {
    std::string own;
    return ToDictionary(word, own) && !own.empty() &&
           Hunspell_spell(handle_->hunspell, own.c_str());
}

bool Speller::Check(std::string_view word) {
    if (!scripts_.Cover(word) || CheckAsIs(word)) {
        return true;
    }
    if (word.find(kRightQuote) == std::string_view::npos) {
        return false;
    }
    std::string plain(word);
    for (std::size_t at; (at = plain.find(kRightQuote)) != std::string::npos;) {
        plain.replace(at, kRightQuote.size(), "'");
    }
    return CheckAsIs(plain);
}

// A word with a capital only at its start, as at the start of a sentence: its corrections are
// those of the word in small letters first, capitalised, since the dictionary ranks them by the
// letters as typed and would put "Te" and "Th" before "The" for "Teh".
std::vector<std::string> Speller::Suggest(std::string_view word, std::size_t max) {
    if (!scripts_.Cover(word)) {
        return {};
    }
    const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
    const bool capitalised =
        word.size() > 1 && word[0] >= 'A' && word[0] <= 'Z' &&
        std::none_of(word.begin() + 1, word.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    if (!capitalised) {
        return SuggestAsIs(word, max);
    }
    std::string small(word);
    small[0] = static_cast<char>(small[0] - 'A' + 'a');
    std::vector<std::string> out;
    auto add = [&](std::string s) {
        if (out.size() < max && std::find(out.begin(), out.end(), s) == out.end()) {
            out.push_back(std::move(s));
        }
    };
    for (std::string s : SuggestAsIs(small, max)) {
        if (!s.empty() && lower(s[0])) {
            s[0] = static_cast<char>(s[0] - 'a' + 'A');
        }
        add(std::move(s));
    }
    for (std::string s : SuggestAsIs(word, max)) {
        add(std::move(s));
    }
    return out;
}

std::vector<std::string> Speller::SuggestAsIs(std::string_view word, std::size_t max) {
    std::vector<std::string> out;
    std::string own;
    if (!ToDictionary(word, own) || own.empty()) {
        return out;
    }
    char** list = nullptr;
    const int n = Hunspell_suggest(handle_->hunspell, &list, own.c_str());
    for (int i = 0; i < n && out.size() < max; ++i) {
        std::string utf8;
        if (FromDictionary(list[i], utf8) && !utf8.empty()) {
            out.push_back(std::move(utf8));
        }
    }
    if (list) {
        Hunspell_free_list(handle_->hunspell, &list, n);
    }
    return out;
}

void Speller::Add(std::string_view word) {
    std::string own;
    if (ToDictionary(word, own) && !own.empty()) {
        Hunspell_add(handle_->hunspell, own.c_str());
    }
}

}  // namespace velloran::spelling
