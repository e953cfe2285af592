#include <chrono>
#include <string>

#include "Checks.h"
#include "core/document/Error.h"
#include "core/spelling/SpellerProcess.h"
#include "core/spelling/SpellerProtocol.h"

namespace velloran::fuzz {

const char* CheckDictionary(const std::uint8_t* data, std::size_t size) {
    using namespace velloran::spelling;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\0');
    const std::string_view aff = input.substr(0, cut);
    const std::string_view dic = cut == std::string_view::npos
                                     ? std::string_view("4\nthe\nquick\nbrown\ncaf\xC3\xA9\n")
                                     : input.substr(cut + 1);
    const Dictionary dictionary{"fuzz", ScratchFolder() + "/fuzz.aff",
                                ScratchFolder() + "/fuzz.dic"};
    if (!WriteFileBytes(dictionary.aff, aff) || !WriteFileBytes(dictionary.dic, dic)) {
        return "the dictionary could not be written";
    }
    // Short times: a dictionary that keeps Hunspell busy for seconds is a hung helper here.
    const SpellerTimes times{std::chrono::seconds(3), std::chrono::seconds(3)};
    std::optional<SpellerProcess> speller;
    try {
        speller.emplace(dictionary, SpellerHelperPath(), times);
    } catch (const Error&) {
        return nullptr;  // refused, or stopped twice while opening: spelling is off
    }
    for (const char* word : {"the", "Teh", "caf\xC3\xA9", "brwn", "\xE5\xB1\xB1"}) {
        speller->Check(word);
        for (const std::string& s : speller->Suggest(word, 8)) {
            if (s.size() > protocol::kMostWord) {
                return "a suggestion longer than any word";
            }
        }
    }
    if (speller->Suggest("Teh", 8).size() > 8) {
        return "more suggestions than asked for";
    }
    speller->Add("zorb");
    if (speller->Restarts() > 1) {
        return "the helper was started more than twice";
    }
    if (!speller->Failure().empty()) {
        if (speller->Pid() != -1) {
            return "spelling is off but a helper still runs";
        }
        if (!speller->Check("Teh") || !speller->Suggest("Teh", 8).empty()) {
            return "spelling is off but still marks or suggests";
        }
    }
    return nullptr;
}

}  // namespace velloran::fuzz
