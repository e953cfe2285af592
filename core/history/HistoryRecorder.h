#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/document/Host.h"
#include "core/history/HistoryStore.h"

namespace velloran {

// What the writer chose for the history: whether it is kept, and its size budget, the larger of
// budgetTimes the document and leastBudget bytes.
struct HistoryRules {
    bool keep = true;
    std::uint64_t budgetTimes = 10;
    std::uint64_t leastBudget = std::uint64_t{200} << 20;
    ThinningRules thinning;
};

// The side of the history that runs with the windows and velloran-cli: at each moment the
// document is saved, opened, reloaded, merged or restored, it keeps the version in the store of
// the document, hashing again only the sections whose bytes changed since the last version.
// Nothing here throws: the history never stops a command; Note() says why it is not kept.
class HistoryRecorder : public HistoryObserver {
  public:
    using Clock = std::function<std::int64_t()>;

    explicit HistoryRecorder(HistoryRules rules = {});
    ~HistoryRecorder() override;

    void Versioned(const Session& s, VersionEvent event) override;
    void VersionedText(const Session& s, VersionEvent event, std::string_view text) override;
    std::optional<HistoryBase> MergeBaseOf(const Session& s, std::string_view theirs) override;
    // The same for the document at path (absolute), sealed as key says: a file velloran-cli
    // wrote, outside any run of the editor.
    void VersionedFile(const std::string& path, const SideKey& key, VersionEvent event,
                       std::string_view text);

    // The two moments by the document's path and key, its sections given: fromSlots tells that
    // they are the run's own slots, whose hashes are worth remembering for the next moment.
    void KeepSections(const std::string& path, const std::optional<SideKey>& key,
                      VersionEvent event, std::span<const std::string_view> texts,
                      Encoding encoding, bool fromSlots);
    void KeepText(const std::string& path, const std::optional<SideKey>& key, VersionEvent event,
                  std::string_view text);

    // The store of the run's document, opened when it is not; nothing when none can be kept.
    HistoryStore* Store(const Session& s);
    HistoryStore* Store(const std::string& path, const std::optional<SideKey>& key);
    // Why the last moment was not kept; empty when it was.
    const std::string& Note() const { return note_; }
    void SetClock(Clock clock) { clock_ = std::move(clock); }

  private:
    HistoryStore* StoreFor(const std::string& path, const std::optional<SideKey>& key,
                           bool replacing);

    struct Hashed {
        bool valid = false;
        std::uint64_t checksum = 0;
        std::size_t size = 0;
        SectionHash hash{};
        std::uint64_t words = 0;
    };
    HistoryRules rules_;
    Clock clock_;
    std::unique_ptr<HistoryStore> store_;
    std::array<Hashed, kSectionCount> hashed_;
    Encoding hashedEncoding_ = Encoding::Utf8;
    std::string note_;
};

}  // namespace velloran
