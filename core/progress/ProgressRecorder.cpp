#include "core/progress/ProgressRecorder.h"

#include <algorithm>
#include <ctime>

#include "core/protection/Protection.h"
#include "core/storage/FileIO.h"
#include "core/tools/Statistics.h"

namespace velloran {

ProgressRecorder::ProgressRecorder(int dayStart)
    : dayStart_(dayStart), clock_([] { return static_cast<std::int64_t>(std::time(nullptr)); }) {
    writer_ = std::make_unique<ProgressWriter>(dayStart_, [this] {
        std::lock_guard lock(notifyMutex_);
        if (onChanged_) {
            onChanged_();
        }
    });
}

ProgressRecorder::~ProgressRecorder() = default;

void ProgressRecorder::SetOnChanged(std::function<void()> onChanged) {
    std::lock_guard lock(notifyMutex_);
    onChanged_ = std::move(onChanged);
}

void ProgressRecorder::SlotsReplaced(const SharedBytes&, std::span<const std::string_view>) {
    for (Counted& c : counted_) {
        c.valid = false;
    }
}

void ProgressRecorder::SlotReplaced(int k, const SharedBytes&, std::string_view) {
    counted_[static_cast<std::size_t>(k)].valid = false;
}

void ProgressRecorder::SlotEdited(int k, std::size_t, std::size_t, std::string_view) {
    counted_[static_cast<std::size_t>(k)].valid = false;
}

ProgressEntry ProgressRecorder::Count(const Session& s) {
    const Encoding encoding = s.st.DocumentEncoding;
    if (encoding != countedEncoding_) {
        countedEncoding_ = encoding;
        for (Counted& c : counted_) {
            c.valid = false;
        }
    }
    ProgressEntry entry;
    entry.encoding = encoding;
    for (int k = 0; k <= std::clamp(s.st.LastSection, 0, kLastSlot); ++k) {
        Counted& c = counted_[static_cast<std::size_t>(k)];
        const std::string_view text = s.sections.ReadSlot(k);
        if (!c.valid || c.data != text.data() || c.size != text.size()) {
            const SectionCounts counts = CountSection(text, encoding);
            c = {true, text.data(), text.size(), counts.words, LoggedTitle(counts.title, encoding)};
        }
        entry.sections.push_back({c.title, c.words});
    }
    return entry;
}

void ProgressRecorder::Taken(const Session& s, ProgressMoment moment) {
    try {
        const std::int64_t now = clock_();
        ProgressJob job;
        job.path = DocumentPath(s.st);
        job.key = SideKeyOf(s.st);
        if (!job.key) {
            // Told to the writer, which says why nothing is kept; the counts wait for a key.
            writer_->Submit(std::move(job));
            return;
        }
        if (moment == ProgressMoment::Opened) {
            // Read again from its file: whatever was counted before is another text.
            SlotsReplaced({}, {});
        }
        ProgressEntry entry = Count(s);
        entry.moment = moment;
        entry.time = now;
        entry.identity = IdentityOf(job.path);
        // A record that changed no count (the panes moved) adds nothing to the log.
        if (moment == ProgressMoment::Recorded && lastHanded_ && job.path == lastPath_ &&
            lastHanded_->SameCounts(entry) &&
            DayOf(lastHanded_->time, dayStart_) == DayOf(now, dayStart_)) {
            return;
        }
        if (moment == ProgressMoment::Saved && !lastPath_.empty() && job.path != lastPath_) {
            job.carriedFrom = lastPath_;
        }
        if (moment != ProgressMoment::Opened && !opened_) {
            // A document new in this run started from nothing: all it holds was written now.
            ProgressEntry start;
            start.time = now;
            start.encoding = entry.encoding;
            job.entries.push_back(std::move(start));
        }
        opened_ = true;
        lastHanded_ = entry;
        lastPath_ = job.path;
        job.entries.push_back(std::move(entry));
        writer_->Submit(std::move(job));
    } catch (const std::exception&) {
        // Out of memory: this moment goes unlogged, and the command goes on.
    }
}

ProgressFigures ProgressRecorder::Figures(const Session& s, int days, int goal) {
    const std::int64_t now = clock_();
    ProgressSnapshot snapshot = writer_->Snapshot();
    std::vector<ProgressEntry> history;
    if (snapshot.path == DocumentPath(s.st)) {
        history = std::move(snapshot.history);
    }
    if (!opened_) {
        ProgressEntry start;
        start.time = now;
        history.push_back(std::move(start));
    }
    ProgressEntry current = Count(s);
    current.moment = ProgressMoment::Recorded;
    current.time = now;
    return ComputeFigures(history, current, now, days, goal, dayStart_);
}

}  // namespace velloran
