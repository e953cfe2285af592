#pragma once

#include <QColor>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/document/DocumentBuffer.h"
#include "core/document/Host.h"
#include "core/document/SectionStore.h"
#include "core/document/State.h"
#include "core/spelling/Dictionaries.h"
#include "ui/document/SectionEditor.h"

namespace velloran::spelling {
class SpellingService;
}

// The document window: one editor per section slot, shown alone or two in two panes.
class DocumentWindow : public QWidget, public velloran::SectionSlots {
    Q_OBJECT

  public:
    explicit DocumentWindow(QWidget* parent = nullptr);
    ~DocumentWindow() override;

    // velloran::SectionSlots. A section's text stays in the store until its editor is first
    // shown or handed out, and is read from there until then; after that from the bytes the
    // editor keeps in step with its text. Either way nothing is copied.
    std::string_view ReadSlot(int k) const override;
    void SetSlotText(int k, std::string text) override;
    void SetSections(const velloran::SharedBytes& block,
                     std::span<const std::string_view> texts) override;
    // An editor that holds its text takes the new one as one undoable step; a section still in
    // the store, never shown, has no history yet and is stored anew.
    void MergeSlotText(int k, std::string_view text) override;

    // The editor of section k, filled with its text first if it was not yet.
    SectionEditor* SectionEditors(int k) const { return Filled(k); }
    // True when editor k holds its section's text.
    bool IsFilled(int k) const { return holdsText_[static_cast<std::size_t>(k)]; }
    static QColor SectionColor(int k);

    // Decides which sections the panes show, then lays them out.
    void SelectSection(int a);
    // Shows and arranges the editors for the current PanelMode; shows the window when hidden.
    void LayoutPanels();
    // Raises and activates the window on a platform that cannot place it beside the list
    // (native Wayland), so that the section shown is in front; elsewhere nothing. Every command
    // that shows a section ends here, through SelectSection or LayoutPanels.
    void BringForward();
    // Font face, size and word wrap from the state, to all editors.
    void ApplyFormat();
    // Makes the panes of modes 2 and 3 follow the client size.
    void FormResize();

    // Checks the spelling of every editor with the dictionary, the personal dictionary at
    // personalPath; nothing checks none. The dictionary is read on a thread of its own.
    void UseSpelling(const std::optional<velloran::spelling::Dictionary>& dictionary,
                     const std::string& personalPath);
    velloran::spelling::SpellingService* Spelling() const { return spelling_.get(); }

    // Told of every change of a section's text, as bytes; nullptr for none.
    void SetSlotObserver(velloran::SlotObserver* observer) { observer_ = observer; }
    // Told of every change an editor's text reports, by its section.
    std::function<void(int k)> onSectionEdited;

    // The hidden document buffer between the file and the editors.
    velloran::DocumentBuffer Memo1;

    // Called before the editor handles the key, which it then handles as usual. They must not
    // throw: nothing may cross the event loop.
    std::function<void(int key, Qt::KeyboardModifiers modifiers, SectionEditor* editor)>
        onEditorKeyDown;
    std::function<void(int key, Qt::KeyboardModifiers modifiers, SectionEditor* editor)>
        onEditorKeyUp;
    // A key the window receives while it holds the focus itself, which it does after a layout
    // hid the editor that had it. Typing goes nowhere then; this is for the function keys.
    std::function<void(int key)> onWindowKeyDown;

    static constexpr int kDesignLeft = 251;
    static constexpr int kDesignTop = 2;
    static constexpr int kDesignWidth = 506;
    static constexpr int kDesignHeight = 645;

  protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    // Fills editor k from the store when it does not hold its text yet. Its undo, caret and
    // scroll position start here; Modified stays as it was, since a fill is no edit.
    SectionEditor* Filled(int k) const;
    // Section k's text was just put in the store: a shown editor takes it at once, and any other
    // lets go of what it held until it is shown.
    void TextStored(int k);
    void FormCreate();
    // Every layout hides editors through here.
    void HideEditor(SectionEditor* ed);
    void SectionEditorChange();
    void SectionEditorClick(int tag);

    // Every editor shown checks its words again.
    void MarkShownEditors();

    std::array<SectionEditor*, velloran::kSectionCount> editors_{};
    std::unique_ptr<velloran::spelling::SpellingService> spelling_;
    velloran::SlotObserver* observer_ = nullptr;
    // The texts of sections whose editors do not hold them, and the encoding each was stored in.
    mutable velloran::SectionStore store_;
    std::array<velloran::Encoding, velloran::kSectionCount> storedEncodings_{};
    mutable std::array<bool, velloran::kSectionCount> holdsText_{};
    // Editors aligned to fill the client area; the others keep the bounds they are given.
    std::array<bool, velloran::kSectionCount> filled_{};
    // The mode and panes of the last layout, which a resize follows even when the state has
    // moved on since (a split resets Panel1Section without laying out again).
    int laidMode_ = 1;
    int laidPane1_ = 0;
    int laidPane2_ = 0;
};
