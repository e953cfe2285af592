#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/spelling/Dictionaries.h"
#include "core/spelling/Scripts.h"

namespace velloran::spelling {

// One opened Hunspell dictionary. Words go in and suggestions come out in UTF-8, whatever the
// dictionary's own encoding. Not for use from two threads at once.
class Speller {
  public:
    // Throws Error when the dictionary cannot be read or its encoding is unknown.
    explicit Speller(const Dictionary& dictionary);
    ~Speller();
    Speller(const Speller&) = delete;
    Speller& operator=(const Speller&) = delete;

    const Dictionary& Source() const { return dictionary_; }
    // The scripts the dictionary's words are written in.
    const Scripts& Covered() const { return scripts_; }

    // Whether the dictionary knows the word, or a form the writer may type for it: with a
    // typographic apostrophe (U+2019) where the dictionary has "'". A word in a script the
    // dictionary does not cover (Chinese for an English one) is not judged: it is correct.
    bool Check(std::string_view word);
    // Up to max corrections, best first; none for a word the dictionary does not cover.
    std::vector<std::string> Suggest(std::string_view word, std::size_t max);
    // Accepted from now on, for this run of the dictionary (the personal dictionary's words).
    void Add(std::string_view word);

  private:
    struct Handle;
    // The word in the dictionary's encoding; false when that cannot hold it.
    bool ToDictionary(std::string_view word, std::string& out) const;
    bool FromDictionary(std::string_view word, std::string& out) const;
    bool CheckAsIs(std::string_view word);
    std::vector<std::string> SuggestAsIs(std::string_view word, std::size_t max);
    void LearnScripts();

    Dictionary dictionary_;
    Scripts scripts_;
    std::unique_ptr<Handle> handle_;
};

}  // namespace velloran::spelling
