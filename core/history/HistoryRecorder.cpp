#include "core/history/HistoryRecorder.h"

#include <algorithm>
#include <ctime>

#include "core/document/Error.h"
#include "core/document/Lines.h"
#include "core/document/Sections.h"
#include "core/storage/Checksum.h"
#include "core/tools/Statistics.h"

namespace velloran {
namespace {

constexpr std::string_view kHistoryNeedsKey =
    "The history of %s is not kept until its key is given: by File > Decript, or by a save.";
constexpr std::string_view kHistoryOtherKey =
    "The history of %s was kept under another key; it is kept anew from its next save.";

}  // namespace

HistoryRecorder::HistoryRecorder(HistoryRules rules)
    : rules_(rules), clock_([] { return static_cast<std::int64_t>(std::time(nullptr)); }) {}

HistoryRecorder::~HistoryRecorder() = default;

HistoryStore* HistoryRecorder::StoreFor(const std::string& path, const std::optional<SideKey>& key,
                                        bool replacing) {
    if (!key) {
        note_ = Format(kHistoryNeedsKey, path);
        return nullptr;
    }
    if (store_ && store_->Path() == path) {
        if (store_->Fits(*key)) {
            return store_.get();
        }
        if (!replacing) {
            note_ = Format(kHistoryOtherKey, path);
            return nullptr;
        }
        // Saved under a new key: the versions kept so far go with it, none left under the old.
        store_->Reseal(*key);
        for (Hashed& h : hashed_) {
            h.valid = false;
        }
        return store_.get();
    }
    store_.reset();
    for (Hashed& h : hashed_) {
        h.valid = false;
    }
    HistoryStore::Opening opening;
    store_ = HistoryStore::Open(path, *key, replacing, &opening);
    if (!store_) {
        note_ = Format(kHistoryOtherKey, path);
    }
    return store_.get();
}

HistoryStore* HistoryRecorder::Store(const Session& s) {
    return Store(DocumentPath(s.st), SideKeyOf(s.st));
}

HistoryStore* HistoryRecorder::Store(const std::string& path, const std::optional<SideKey>& key) {
    try {
        return StoreFor(path, key, false);
    } catch (const std::exception& e) {
        note_ = e.what();
        return nullptr;
    }
}

void HistoryRecorder::Versioned(const Session& s, VersionEvent event) {
    try {
        std::vector<std::string_view> texts;
        for (int k = 0; k <= std::clamp(s.st.LastSection, 0, kLastSlot); ++k) {
            texts.push_back(s.sections.ReadSlot(k));
        }
        KeepSections(DocumentPath(s.st), SideKeyOf(s.st), event, texts, s.st.DocumentEncoding,
                     true);
    } catch (const std::exception& e) {
        note_ = e.what();
    }
}

void HistoryRecorder::VersionedText(const Session& s, VersionEvent event, std::string_view text) {
    try {
        KeepText(DocumentPath(s.st), SideKeyOf(s.st), event, text);
    } catch (const std::exception& e) {
        note_ = e.what();
    }
}

namespace {

// A text cut into lines as reading cuts them: CR LF, whatever line ends it came with.
std::string_view AsRead(std::string_view text, std::string& crlf) {
    std::size_t lines = 0;
    if (IsCrLfText(text, &lines)) {
        return text;
    }
    ForEachLogicalLine(text, [&](std::string_view line) {
        crlf.append(line);
        crlf.append("\r\n");
    });
    return crlf;
}

std::string TimeText(std::int64_t time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    char text[32] = "";
    if (::localtime_r(&t, &local)) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    }
    return text;
}

}  // namespace

std::optional<HistoryBase> HistoryRecorder::MergeBaseOf(const Session& s, std::string_view theirs) {
    try {
        HistoryStore* store = Store(s);
        if (!store) {
            return std::nullopt;
        }
        std::vector<SectionHash> ours;
        for (int k = 0; k <= std::clamp(s.st.LastSection, 0, kLastSlot); ++k) {
            ours.push_back(store->HashOf(s.sections.ReadSlot(k)));
        }
        std::string crlf;
        std::vector<SectionHash> other;
        for (const std::string_view text : SectionTexts(AsRead(theirs, crlf))) {
            other.push_back(store->HashOf(text));
        }
        const Version* v = ChooseMergeBase(store->Versions(), ours, other);
        // A version in another encoding would compare as different bytes everywhere.
        if (!v || v->encoding != s.st.DocumentEncoding) {
            return std::nullopt;
        }
        return HistoryBase{std::make_shared<const std::string>(store->DocumentText(*v)),
                           "version " + std::to_string(v->number) + " (" +
                               std::string(EventName(v->event)) + " " + TimeText(v->time) + ")"};
    } catch (const std::exception& e) {
        note_ = e.what();
        return std::nullopt;
    }
}

void HistoryRecorder::VersionedFile(const std::string& path, const SideKey& key, VersionEvent event,
                                    std::string_view text) {
    try {
        KeepText(path, key, event, text);
    } catch (const std::exception& e) {
        note_ = e.what();
    }
}

void HistoryRecorder::KeepText(const std::string& path, const std::optional<SideKey>& key,
                               VersionEvent event, std::string_view text) {
    // Cut into lines as reading cuts it, so that its sections are those a merge sees.
    std::string crlf;
    text = AsRead(text, crlf);
    const std::vector<std::string_view> texts = SectionTexts(text);
    KeepSections(path, key, event, texts, DetectEncoding(text), false);
}

void HistoryRecorder::KeepSections(const std::string& path, const std::optional<SideKey>& key,
                                   VersionEvent event, std::span<const std::string_view> texts,
                                   Encoding encoding, bool fromSlots) {
    if (!rules_.keep) {
        return;
    }
    try {
        HistoryStore* store = StoreFor(path, key, event == VersionEvent::Saved);
        if (!store) {
            return;
        }
        if (encoding != hashedEncoding_) {
            hashedEncoding_ = encoding;
            for (Hashed& h : hashed_) {
                h.valid = false;
            }
        }
        std::vector<SectionHash> hashes;
        std::vector<std::uint64_t> words;
        std::uint64_t bytes = 0;
        for (std::size_t k = 0; k < texts.size(); ++k) {
            const std::string_view text = texts[k];
            bytes += text.size();
            // A checksum that keeps pace with memory tells which sections changed, so that only
            // those are hashed and counted again, whatever the window told or did not tell.
            Hashed fresh;
            fresh.valid = true;
            fresh.size = text.size();
            fresh.checksum = Checksum::Of(text);
            Hashed& cached = hashed_[k];
            if (fromSlots && cached.valid && cached.size == fresh.size &&
                cached.checksum == fresh.checksum) {
                fresh = cached;
            } else {
                fresh.hash = store->HashOf(text);
                fresh.words = CountSection(text, encoding).words;
                if (fromSlots) {
                    cached = fresh;
                }
            }
            hashes.push_back(fresh.hash);
            words.push_back(fresh.words);
        }
        const auto& versions = store->Versions();
        // An opening adds a version only of a text the history does not hold yet; any other
        // moment one that differs from the newest.
        if (event == VersionEvent::Opened
                ? std::any_of(versions.begin(), versions.end(),
                              [&](const Version& v) { return v.SameText(hashes); })
                : !versions.empty() && versions.back().SameText(hashes)) {
            note_.clear();
            return;
        }
        const std::int64_t now = clock_();
        store->Add(event, now, encoding, texts, hashes, words);
        ThinningRules thinning = rules_.thinning;
        thinning.budget = std::max(rules_.leastBudget, rules_.budgetTimes * bytes);
        store->Thin(now, thinning);
        note_.clear();
    } catch (const std::exception& e) {
        // Out of memory or a disk that refuses: this version goes unkept, the command goes on.
        note_ = e.what();
    }
}

}  // namespace velloran
