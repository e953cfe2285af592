#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "core/spelling/Dictionaries.h"
#include "core/spelling/Scripts.h"
#include "core/storage/FileIO.h"

namespace velloran::spelling {

// The spelling helper, velloran-speller: beside the running program; else in the libexec folder
// of the installation the program is in (bin/../libexec/velloran, also a build's folders up to
// three above the program's own), else in the one the build was made to be installed into.
// Empty when none is there.
std::string SpellerHelperPath();

// How long the helper may take before it is taken for hung: to open a dictionary (a large one
// takes a second or two), and to answer.
struct SpellerTimes {
    std::chrono::milliseconds open{60000};
    std::chrono::milliseconds answer{10000};
};

// A dictionary checked in a process of its own, velloran-speller, so that a dictionary that
// makes Hunspell crash or hang costs that process and not the editor: the helper is started
// again once with the words added so far, and when that one goes too, spelling is off for the
// run (Failure() says why) and every word is correct. The same interface as Speller; not for use
// from two threads at once.
class SpellerProcess {
  public:
    // Throws Error when the dictionary cannot be read (what Speller would throw), when no helper
    // is found, or when it could not open the dictionary twice.
    explicit SpellerProcess(const Dictionary& dictionary, std::string helper = SpellerHelperPath(),
                            SpellerTimes times = {});
    ~SpellerProcess();
    SpellerProcess(const SpellerProcess&) = delete;
    SpellerProcess& operator=(const SpellerProcess&) = delete;

    const Dictionary& Source() const { return dictionary_; }
    const Scripts& Covered() const { return scripts_; }

    bool Check(std::string_view word);
    // The verdicts on many words at once, in one exchange with the helper.
    std::vector<bool> CheckAll(const std::vector<std::string>& words);
    std::vector<std::string> Suggest(std::string_view word, std::size_t max);
    void Add(std::string_view word);

    // Empty while the helper works; otherwise why spelling is off.
    const std::string& Failure() const { return failure_; }
    // How often the helper was started again; for tests.
    int Restarts() const { return restarts_; }
    // The helper's process, and how the last one ended (a waitpid status); for tests.
    pid_t Pid() const { return pid_; }
    int LastStatus() const { return lastStatus_; }

  private:
    // Starts the helper and waits for its dictionary; false when it died or hung meanwhile.
    // Throws Error when it refused the dictionary.
    bool Start();
    void Stop();
    // The answer to request; nothing when the helper died, hung or answered nonsense.
    std::optional<std::string> Exchange(std::string_view request, std::chrono::milliseconds within);
    // request's answer, through a helper started again once when this one fails.
    std::optional<std::string> Ask(const std::string& request);
    void GiveUp();

    Dictionary dictionary_;
    std::string helper_;
    SpellerTimes times_;
    Scripts scripts_;
    std::vector<std::string> added_;
    UniqueFd socket_;
    pid_t pid_ = -1;
    int restarts_ = 0;
    int lastStatus_ = 0;
    std::string failure_;
};

inline constexpr std::string_view kSpellerStopped =
    "The spelling dictionary %s stopped the spelling checker twice: spelling is off until the "
    "editor starts again or another dictionary is chosen.";
inline constexpr std::string_view kSpellerMissing =
    "The spelling checker velloran-speller is not installed with the editor: spelling is off.";

}  // namespace velloran::spelling
