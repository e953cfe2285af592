#include "core/spelling/SpellingService.h"

#include <utility>

#include "core/document/Error.h"
#include "core/spelling/PersonalDictionary.h"

namespace velloran::spelling {
namespace {

// Words checked between two looks at the queue, so that a suggestion asked for meanwhile
// waits for a few words at most.
constexpr std::size_t kBatch = 32;

}  // namespace

SpellingService::SpellingService(Dictionary dictionary, std::string personalPath,
                                 std::function<void()> answered, std::string helper)
    : dictionary_(std::move(dictionary)),
      helper_(std::move(helper)),
      personalPath_(std::move(personalPath)),
      answered_(std::move(answered)) {
    for (std::string& word : ReadPersonalWords(personalPath_)) {
        accepted_.insert(word);
        adds_.push_back(std::move(word));
    }
    thread_ = std::thread([this] { Run(); });
}

SpellingService::~SpellingService() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

SpellingService::Verdict SpellingService::Check(const std::string& word) {
    std::lock_guard lock(mutex_);
    if (!failure_.empty() || accepted_.count(word)) {
        return Verdict::Correct;
    }
    if (auto it = known_.find(word); it != known_.end()) {
        return it->second ? Verdict::Correct : Verdict::Misspelled;
    }
    if (queued_.insert(word).second) {
        pending_.push_back(word);
        wake_.notify_one();
    }
    return Verdict::Unknown;
}

std::vector<std::string> SpellingService::Suggest(const std::string& word, std::size_t max) {
    std::future<std::vector<std::string>> result;
    {
        std::lock_guard lock(mutex_);
        if (!failure_.empty()) {
            return {};
        }
        suggestions_.push_back({word, max, {}});
        result = suggestions_.back().result.get_future();
    }
    wake_.notify_one();
    return result.get();
}

void SpellingService::AddToDictionary(const std::string& word) {
    AddPersonalWord(personalPath_, word);
    {
        std::lock_guard lock(mutex_);
        accepted_.insert(word);
        if (failure_.empty()) {
            adds_.push_back(word);
        }
        // A word of the dictionary may make other forms of it correct.
        std::erase_if(known_, [](const auto& entry) { return !entry.second; });
    }
    wake_.notify_one();
}

void SpellingService::Ignore(const std::string& word) {
    std::lock_guard lock(mutex_);
    accepted_.insert(word);
}

std::string SpellingService::Failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

std::string SpellingService::TakeNotice() {
    std::lock_guard lock(mutex_);
    if (failure_.empty() || told_) {
        return {};
    }
    told_ = true;
    return failure_;
}

void SpellingService::TurnOff(std::string why) {
    failure_ = std::move(why);
    pending_.clear();
    queued_.clear();
    adds_.clear();
    for (Suggestion& s : suggestions_) {
        s.result.set_value({});
    }
    suggestions_.clear();
    idle_.notify_all();
}

void SpellingService::WaitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] {
        return stop_ || !failure_.empty() ||
               (!busy_ && pending_.empty() && adds_.empty() && suggestions_.empty());
    });
}

void SpellingService::Run() {
    std::unique_ptr<SpellerProcess> speller;
    std::string failure;
    try {
        speller = std::make_unique<SpellerProcess>(dictionary_, helper_);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    std::unique_lock lock(mutex_);
    if (!speller) {
        TurnOff(std::move(failure));
        lock.unlock();
        answered_();
        return;
    }
    std::size_t untold = 0;
    while (true) {
        wake_.wait(lock, [this] {
            return stop_ || !pending_.empty() || !adds_.empty() || !suggestions_.empty();
        });
        if (stop_) {
            break;
        }
        busy_ = true;
        std::deque<std::string> adds = std::exchange(adds_, {});
        std::deque<Suggestion> suggestions = std::exchange(suggestions_, {});
        std::vector<std::string> words;
        while (!pending_.empty() && words.size() < kBatch) {
            words.push_back(std::move(pending_.front()));
            pending_.pop_front();
        }
        lock.unlock();
        for (const std::string& word : adds) {
            speller->Add(word);
        }
        for (Suggestion& s : suggestions) {
            s.result.set_value(speller->Suggest(s.word, s.max));
        }
        const std::vector<bool> verdicts = speller->CheckAll(words);
        lock.lock();
        if (!speller->Failure().empty()) {
            // The dictionary stopped its helper twice: no mark stays, and nothing more is asked.
            busy_ = false;
            TurnOff(speller->Failure());
            known_.clear();
            lock.unlock();
            speller.reset();
            answered_();
            return;
        }
        for (std::size_t i = 0; i < words.size(); ++i) {
            queued_.erase(words[i]);
            known_[words[i]] = verdicts[i];
        }
        const bool more = !pending_.empty();
        untold += words.size();
        if (untold > 0 && (!more || untold >= 256)) {
            // Told once the queue is through, so that a screen of new words is marked at once.
            untold = 0;
            lock.unlock();
            answered_();
            lock.lock();
        }
        busy_ = false;
        if (pending_.empty()) {
            idle_.notify_all();
        }
    }
    // Whoever waits for a suggestion is told there is none.
    for (Suggestion& s : suggestions_) {
        s.result.set_value({});
    }
    suggestions_.clear();
    idle_.notify_all();
}

}  // namespace velloran::spelling
