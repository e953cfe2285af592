#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/history/HistoryRecorder.h"

namespace velloran {

// The history as the editor keeps it: each moment copies the sections and returns, and a thread
// of its own hashes, compresses and writes them, and derives the history's key of a legacy
// enciphered document (Argon2id's time and memory), so that no window waits for any of it.
// Moments are kept in the order told; the end waits for those still pending, so that the last
// save's version is not lost at exit.
class HistoryKeeper : public HistoryObserver {
  public:
    explicit HistoryKeeper(HistoryRules rules = {});
    ~HistoryKeeper() override;
    HistoryKeeper(const HistoryKeeper&) = delete;
    HistoryKeeper& operator=(const HistoryKeeper&) = delete;

    void Versioned(const Session& s, VersionEvent event) override;
    void VersionedText(const Session& s, VersionEvent event, std::string_view text) override;
    // Once every moment told is kept.
    std::optional<HistoryBase> MergeBaseOf(const Session& s, std::string_view theirs) override;

    // Once every moment told is kept: use with the store of the run's document (nothing when
    // none can be kept) and why not, on the calling thread while the keeper waits.
    void UseStore(const Session& s,
                  const std::function<void(HistoryStore* store, const std::string& note)>& use);
    // Until every moment told is kept.
    void Wait();
    // How many moments were told so far: a window shows the history anew when it grew.
    std::uint64_t Told() const { return told_; }

  private:
    struct Moment {
        std::string path;
        std::optional<SideKey> key;
        VersionEvent event = VersionEvent::Saved;
        Encoding encoding = Encoding::Utf8;
        // The slots' texts, or one whole document's text.
        std::vector<std::string> sections;
        std::optional<std::string> whole;
    };
    void Tell(Moment moment);
    void Run();

    HistoryRecorder recorder_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Moment> moments_;
    std::uint64_t told_ = 0;  // by the thread that tells
    bool busy_ = false;
    bool ending_ = false;
    std::thread worker_;
};

}  // namespace velloran
