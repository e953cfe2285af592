#include "core/history/HistoryKeeper.h"

#include <algorithm>

#include "core/document/Sections.h"
#include "core/protection/Protection.h"

namespace velloran {

HistoryKeeper::HistoryKeeper(HistoryRules rules) : recorder_(rules) {
    worker_ = std::thread([this] { Run(); });
}

HistoryKeeper::~HistoryKeeper() {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void HistoryKeeper::Versioned(const Session& s, VersionEvent event) {
    try {
        Moment m;
        m.path = DocumentPath(s.st);
        m.key = SideKeyOf(s.st);
        m.event = event;
        m.encoding = s.st.DocumentEncoding;
        for (int k = 0; k <= std::clamp(s.st.LastSection, 0, kLastSlot); ++k) {
            m.sections.emplace_back(s.sections.ReadSlot(k));
        }
        Tell(std::move(m));
    } catch (const std::exception&) {
        // Out of memory for the copy: this version goes unkept, the command goes on.
    }
}

void HistoryKeeper::VersionedText(const Session& s, VersionEvent event, std::string_view text) {
    try {
        Moment m;
        m.path = DocumentPath(s.st);
        m.key = SideKeyOf(s.st);
        m.event = event;
        m.whole.emplace(text);
        Tell(std::move(m));
    } catch (const std::exception&) {
    }
}

void HistoryKeeper::Tell(Moment moment) {
    ++told_;
    {
        const std::lock_guard lock(mutex_);
        moments_.push_back(std::move(moment));
    }
    wake_.notify_one();
}

void HistoryKeeper::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || !moments_.empty(); });
        if (moments_.empty()) {
            return;  // ending, and every moment kept
        }
        Moment m = std::move(moments_.front());
        moments_.pop_front();
        busy_ = true;
        lock.unlock();
        try {
            if (m.whole) {
                recorder_.KeepText(m.path, m.key, m.event, *m.whole);
            } else {
                const std::vector<std::string_view> texts(m.sections.begin(), m.sections.end());
                recorder_.KeepSections(m.path, m.key, m.event, texts, m.encoding, true);
            }
        } catch (const std::exception&) {
            // Out of memory: this version goes unkept, the next moment is kept as usual.
        }
        lock.lock();
        busy_ = false;
        idle_.notify_all();
    }
}

void HistoryKeeper::Wait() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return moments_.empty() && !busy_; });
}

void HistoryKeeper::UseStore(
    const Session& s,
    const std::function<void(HistoryStore* store, const std::string& note)>& use) {
    const std::string path = DocumentPath(s.st);
    const std::optional<SideKey> key = SideKeyOf(s.st);
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return moments_.empty() && !busy_; });
    // The worker stays asleep while the lock is held: the store is this thread's meanwhile.
    HistoryStore* store = recorder_.Store(path, key);
    use(store, recorder_.Note());
}

}  // namespace velloran

namespace velloran {

std::optional<HistoryBase> HistoryKeeper::MergeBaseOf(const Session& s, std::string_view theirs) {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return moments_.empty() && !busy_; });
    return recorder_.MergeBaseOf(s, theirs);
}

}  // namespace velloran
