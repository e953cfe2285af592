#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/document/Host.h"
#include "core/progress/ProgressFigures.h"
#include "core/progress/ProgressWriter.h"

namespace velloran {

// The side of the progress log that runs with the windows: at each moment the document is
// opened, saved or recorded, it takes the words of every section as the statistics count them
// and hands them to the writer. Only the sections changed since they were last counted are
// counted again, so that a record while typing in a long document costs no more than the
// section typed in. Nothing here throws: progress never stops a command.
class ProgressRecorder : public SlotObserver, public ProgressObserver {
  public:
    using Clock = std::function<std::int64_t()>;

    explicit ProgressRecorder(int dayStart = kDefaultDayStart);
    ~ProgressRecorder() override;

    void SlotsReplaced(const SharedBytes& block, std::span<const std::string_view> texts) override;
    void SlotReplaced(int k, const SharedBytes& block, std::string_view text) override;
    void SlotEdited(int k, std::size_t position, std::size_t removed,
                    std::string_view inserted) override;

    void Taken(const Session& s, ProgressMoment moment) override;

    // The figures of the document as it is now, against what its log holds.
    ProgressFigures Figures(const Session& s, int days, int goal);
    // What the log holds, as the writer last left it.
    ProgressSnapshot Snapshot() const { return writer_->Snapshot(); }
    // What the writer must be told once (ProgressWriter::TakeNotice); empty when nothing.
    std::string TakeNotice() { return writer_->TakeNotice(); }

    // Tests give the time; the program always takes the system's.
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    int DayStart() const { return dayStart_; }
    // Called, on any thread, each time the log changed; for the window to show it.
    void SetOnChanged(std::function<void()> onChanged);
    // Until the writer has done everything handed over.
    void Wait() { writer_->Wait(); }

  private:
    // The sections' words now, counting again only what changed.
    ProgressEntry Count(const Session& s);

    struct Counted {
        bool valid = false;
        // Where the text counted was, so that a change not told of is noticed all the same.
        const char* data = nullptr;
        std::size_t size = 0;
        std::uint64_t words = 0;
        std::string title;
    };
    int dayStart_;
    Clock clock_;
    std::array<Counted, kSectionCount> counted_;
    Encoding countedEncoding_ = Encoding::Utf8;
    // An opening (or, for a document new in this run, its empty start) was handed over.
    bool opened_ = false;
    std::optional<ProgressEntry> lastHanded_;
    std::string lastPath_;
    std::mutex notifyMutex_;
    std::function<void()> onChanged_;
    std::unique_ptr<ProgressWriter> writer_;
};

}  // namespace velloran
