#pragma once

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/DocumentBuffer.h"
#include "core/document/State.h"

namespace velloran {

// The 51 section slots. A slot's text crosses this boundary whole, as bytes with CR LF after
// each line, so that filling or reading a slot is one call whatever its size.
class SectionSlots {
  public:
    virtual ~SectionSlots() = default;

    // Slot k's whole text, as a view of the bytes the slot holds: reading copies nothing. The
    // view lasts until the slot changes. Every reader of a section goes through here.
    virtual std::string_view ReadSlot(int k) const = 0;
    virtual void SetSlotText(int k, std::string text) = 0;
    // Slots 0 to texts.size() - 1 take the texts, which lie in block: a slot may keep a share of
    // block instead of a copy.
    virtual void SetSections(const SharedBytes& /*block*/,
                             std::span<const std::string_view> texts) {
        for (std::size_t k = 0; k < texts.size(); ++k) {
            SetSlotText(static_cast<int>(k), std::string(texts[k]));
        }
    }

    // Slot k takes text that a merge of a change on disk made: where the slot keeps an undo
    // history, as one step of it, and told to its observer as an edit is.
    virtual void MergeSlotText(int k, std::string_view text) { SetSlotText(k, std::string(text)); }

    std::string SlotText(int k) const { return std::string(ReadSlot(k)); }
};

// Told of every change of the slots' text, as bytes, by the window layer that holds them.
class SlotObserver {
  public:
    virtual ~SlotObserver() = default;
    // Slots 0 to texts.size() - 1 took the texts, which lie in block.
    virtual void SlotsReplaced(const SharedBytes& block,
                               std::span<const std::string_view> texts) = 0;
    virtual void SlotReplaced(int k, const SharedBytes& block, std::string_view text) = 0;
    // In slot k, at byte position, `removed` bytes gave way to inserted.
    virtual void SlotEdited(int k, std::size_t position, std::size_t removed,
                            std::string_view inserted) = 0;
    // The sections on screen, or the one worked on, changed; a record of the run holds them.
    virtual void ViewChanged() {}
};

// The list of section titles; entry k belongs to slot k.
class SectionList {
  public:
    virtual ~SectionList() = default;
    virtual void Clear() = 0;
    virtual void Add(std::string_view title) = 0;
    virtual int Count() const = 0;
    virtual std::string Title(int k) const = 0;
};

enum class ModalResult { None, OK, Cancel, Yes, No };

// How the key prompt gives the typed key: as code-page bytes, the legacy cipher's key, where a
// character the code page cannot hold becomes "?"; or as UTF-8, a sealed document's passphrase.
enum class KeyText { CodePage, Utf8 };

struct PromptResult {
    ModalResult result = ModalResult::Cancel;
    std::string text;
};

// One line of what a merge did: the section of the result it is about (-1 for none), whether the
// writer must look at it, and what became of it, titles in the document's own bytes.
struct MergeNote {
    int section = -1;
    bool conflict = false;
    std::string text;
    bool operator==(const MergeNote&) const = default;
};

// What bringing a change on disk into the sections did, for the window layer to show.
struct MergeReport {
    // Nothing was unsaved: the document was read again. Otherwise a merge, left unsaved.
    bool reload = false;
    std::string summary;
    std::vector<MergeNote> notes;
    // The sections where both versions stand between marker lines, or that were kept.
    std::vector<int> flagged;
};

// The dialogs the core asks the window layer for.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // The key prompt: its outcome and the text of its field.
    virtual PromptResult AskKeyPrompt(KeyText form) = 0;
    // The Save Document dialog with fileName in its field and "Do Not Exit" shown or hidden.
    virtual PromptResult AskSaveDocument(const std::string& fileName, bool showDoNotExit) = 0;
    // The two-second status notice showing the saved path.
    virtual void ShowStatusNotice(const std::string& path) = 0;
    // A Yes/No question whose default is No; true for Yes.
    virtual bool AskYesNo(const std::string& message) = 0;
    // A message the command goes on after, such as a wrong key before the prompt comes again.
    virtual void ShowMessage(const std::string& message) = 0;
    // What a change on disk did to the sections.
    virtual void ShowMergeReport(const MergeReport& /*report*/) {}
};

// Tells each of several observers in turn, in the order they were added.
class SlotObservers : public SlotObserver {
  public:
    void Add(SlotObserver* observer) { observers_.push_back(observer); }
    void SlotsReplaced(const SharedBytes& block, std::span<const std::string_view> texts) override {
        for (SlotObserver* o : observers_) {
            o->SlotsReplaced(block, texts);
        }
    }
    void SlotReplaced(int k, const SharedBytes& block, std::string_view text) override {
        for (SlotObserver* o : observers_) {
            o->SlotReplaced(k, block, text);
        }
    }
    void SlotEdited(int k, std::size_t position, std::size_t removed,
                    std::string_view inserted) override {
        for (SlotObserver* o : observers_) {
            o->SlotEdited(k, position, removed, inserted);
        }
    }
    void ViewChanged() override {
        for (SlotObserver* o : observers_) {
            o->ViewChanged();
        }
    }

  private:
    std::vector<SlotObserver*> observers_;
};

struct Session;

// The moments at which the writer's progress is taken: the document was read (opened, or its
// recovery record restored), saved, or recorded for recovery.
enum class ProgressMoment : unsigned char { Opened = 1, Saved = 2, Recorded = 3 };

// Told of each of those moments by the part that makes it happen, with the slots holding the
// document as it is then; the progress log implements it.
class ProgressObserver {
  public:
    virtual ~ProgressObserver() = default;
    virtual void Taken(const Session& s, ProgressMoment moment) = 0;
};

// The moments a version of the document goes into its history: each save, a reload or a merge
// of a change on disk (and the file's own text then), a sync tool's conflict copy (its own text,
// then the merge of it), a restore from the history, and the document as opened.
enum class VersionEvent : unsigned char {
    Opened = 1,
    Saved = 2,
    Reloaded = 3,
    OnDisk = 4,
    MergedDisk = 5,
    ConflictCopy = 6,
    MergedCopy = 7,
    Restored = 8,
};

// A version of the history that two versions of the document both came from, for their merge.
struct HistoryBase {
    SharedBytes text;  // the whole document
    std::string name;  // as a report names it: "version 12 (saved 2026-12-09 14:02)"
};

// Told of each of those moments by the part that makes it happen; the history implements it.
class HistoryObserver {
  public:
    virtual ~HistoryObserver() = default;
    // The slots hold the document as it is at the moment.
    virtual void Versioned(const Session& s, VersionEvent event) = 0;
    // A whole document text that is not the slots', such as the copy a sync tool made.
    virtual void VersionedText(const Session& s, VersionEvent event, std::string_view text) = 0;
    // The newest version that the slots and theirs, a whole document's text, both came from;
    // nothing when the history knows none.
    virtual std::optional<HistoryBase> MergeBaseOf(const Session& /*s*/,
                                                   std::string_view /*theirs*/) {
        return std::nullopt;
    }
};

// Everything a core command works on: the run's state and what the window layer provides.
// (No member is called "slots": the toolkit defines that word as a macro.)
struct Session {
    State& st;
    SectionSlots& sections;
    SectionList& list;
    DocumentBuffer& buffer;
    Dialogs& dialogs;
    // Nothing where no progress is kept, as in velloran-cli.
    ProgressObserver* progress = nullptr;
    // Nothing where no history is kept.
    HistoryObserver* history = nullptr;

    void Taken(ProgressMoment moment) const {
        if (progress) {
            progress->Taken(*this, moment);
        }
    }
    void Versioned(VersionEvent event) const {
        if (history) {
            history->Versioned(*this, event);
        }
    }
    void VersionedText(VersionEvent event, std::string_view text) const {
        if (history) {
            history->VersionedText(*this, event, text);
        }
    }
    std::optional<HistoryBase> HistoryMergeBase(std::string_view theirs) const {
        return history ? history->MergeBaseOf(*this, theirs) : std::nullopt;
    }
};

// Plain implementations for a build without windows, and for tests.
class PlainSlots : public SectionSlots {
  public:
    std::string_view ReadSlot(int k) const override { return texts[static_cast<std::size_t>(k)]; }
    void SetSlotText(int k, std::string text) override {
        texts[static_cast<std::size_t>(k)] = std::move(text);
    }
    std::array<std::string, kSectionCount> texts;
};

class PlainList : public SectionList {
  public:
    void Clear() override { titles.clear(); }
    void Add(std::string_view title) override { titles.emplace_back(title); }
    int Count() const override { return static_cast<int>(titles.size()); }
    std::string Title(int k) const override { return titles[static_cast<std::size_t>(k)]; }
    std::vector<std::string> titles;
};

// Each dialog answers through a callback; without one, the key prompt and the Save Document
// dialog are cancelled and a question is answered No.
class CallbackDialogs : public Dialogs {
  public:
    PromptResult AskKeyPrompt(KeyText form) override {
        ++keyPrompts;
        keyForms.push_back(form);
        return onKeyPrompt ? onKeyPrompt() : PromptResult{};
    }
    PromptResult AskSaveDocument(const std::string& fileName, bool showDoNotExit) override {
        ++saveDialogs;
        return onSaveDocument ? onSaveDocument(fileName, showDoNotExit) : PromptResult{};
    }
    void ShowStatusNotice(const std::string& path) override {
        notices.push_back(path);
        if (onStatusNotice) {
            onStatusNotice(path);
        }
    }
    bool AskYesNo(const std::string& message) override {
        questions.push_back(message);
        return onYesNo ? onYesNo(message) : false;
    }
    void ShowMessage(const std::string& message) override { messages.push_back(message); }
    void ShowMergeReport(const MergeReport& report) override { reports.push_back(report); }

    std::function<PromptResult()> onKeyPrompt;
    std::function<PromptResult(const std::string&, bool)> onSaveDocument;
    std::function<void(const std::string&)> onStatusNotice;
    std::function<bool(const std::string&)> onYesNo;
    int keyPrompts = 0;
    int saveDialogs = 0;
    std::vector<std::string> notices;
    std::vector<std::string> questions;
    std::vector<KeyText> keyForms;
    std::vector<std::string> messages;
    std::vector<MergeReport> reports;
};

// A whole session of plain parts around the run's state.
struct PlainSession {
    PlainSlots sections;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
    Session session{state(), sections, list, buffer, dialogs};
};

}  // namespace velloran
