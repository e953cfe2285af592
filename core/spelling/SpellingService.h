#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/spelling/Dictionaries.h"
#include "core/spelling/SpellerProcess.h"

namespace velloran::spelling {

// Spelling for the windows: the dictionary is read and words are checked on a thread of its
// own, so that whoever asks never waits for Hunspell, and by Hunspell in a process of its own
// (SpellerProcess), so that no dictionary can take the editor down. An answer, once known, is
// kept for the run: a word is checked once however often it is shown. Words are UTF-8.
class SpellingService {
  public:
    enum class Verdict { Correct, Misspelled, Unknown };

    // answered runs on the service's thread whenever words asked about have got their answer,
    // and once spelling is off (the dictionary failed to open, or its helper stopped twice). It
    // must not throw. helper is the spelling helper's program.
    SpellingService(Dictionary dictionary, std::string personalPath, std::function<void()> answered,
                    std::string helper = SpellerHelperPath());
    ~SpellingService();
    SpellingService(const SpellingService&) = delete;
    SpellingService& operator=(const SpellingService&) = delete;

    const Dictionary& Source() const { return dictionary_; }

    // The answer when it is known; otherwise Unknown, and the word is checked soon. Words of the
    // personal dictionary and words ignored for the run are correct. While the dictionary cannot
    // be opened every word is correct: nothing would be right to mark.
    Verdict Check(const std::string& word);
    // Up to max corrections; waits for the dictionary. None when it cannot be opened.
    std::vector<std::string> Suggest(const std::string& word, std::size_t max);
    // Into the personal dictionary's file (throws Error when it cannot be written), correct
    // from now on.
    void AddToDictionary(const std::string& word);
    // Correct for the rest of the run.
    void Ignore(const std::string& word);
    // Empty, or why spelling is off: the dictionary could not be opened, the helper is missing,
    // or the dictionary stopped the helper twice.
    std::string Failure() const;
    // Failure() once, for the writer to be told: the first call after spelling went off gives
    // it, every other call nothing.
    std::string TakeNotice();
    // Waits until every word asked about so far has its answer; for tests and benchmarks.
    void WaitIdle();

  private:
    struct Suggestion {
        std::string word;
        std::size_t max;
        std::promise<std::vector<std::string>> result;
    };
    void Run();
    // Spelling is off: every word correct, no suggestion, nothing more to do. Called locked.
    void TurnOff(std::string why);

    Dictionary dictionary_;
    std::string helper_;
    std::string personalPath_;
    std::function<void()> answered_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    bool stop_ = false;
    bool busy_ = false;
    std::string failure_;
    bool told_ = false;
    std::unordered_map<std::string, bool> known_;
    std::unordered_set<std::string> accepted_;  // personal and ignored
    std::unordered_set<std::string> queued_;
    std::deque<std::string> pending_;
    std::deque<std::string> adds_;
    std::deque<Suggestion> suggestions_;
    std::thread thread_;
};

}  // namespace velloran::spelling
