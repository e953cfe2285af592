#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/document/Host.h"
#include "core/spelling/Dictionaries.h"
#include "core/storage/InPlaceWrite.h"
#include "settings/SpellingSettings.h"

class QAction;
class QActionGroup;
class QListWidget;
class QProcess;
class QMenu;
class DocumentWindow;
class StatisticsWindow;
class HelpWindow;
class SearchWindow;
class KeyPrompt;
class SaveDocumentDialog;
class FileParametersDialog;
class StatusNotice;
class MergeReportWindow;
class ReloadNotice;
class ViewItems;
class RecoveryKeeper;
class DiskWatcher;
class ProgressWindow;
class HistoryWindow;
class RecoveryKeeper;
namespace velloran {
class ProgressRecorder;
class HistoryKeeper;
}  // namespace velloran

// The program's other windows, created once at start in this order after SectionListWindow.
struct Forms {
    DocumentWindow* documentWindow = nullptr;
    HelpWindow* helpWindow = nullptr;
    SearchWindow* searchWindow = nullptr;
    KeyPrompt* keyPrompt = nullptr;
    SaveDocumentDialog* saveDocumentDialog = nullptr;
    FileParametersDialog* parametersDialog = nullptr;
    StatusNotice* statusNotice = nullptr;
    StatisticsWindow* statisticsWindow = nullptr;
    MergeReportWindow* mergeReportWindow = nullptr;
    ReloadNotice* reloadNotice = nullptr;
    ProgressWindow* progressWindow = nullptr;
    HistoryWindow* historyWindow = nullptr;
};

// The section list window: the main window with the menu that carries every command. It is the
// section list of the core and answers the core's dialogs through the program's windows.
class SectionListWindow : public QMainWindow,
                          public velloran::SectionList,
                          public velloran::Dialogs {
    Q_OBJECT

  public:
    // arguments: the command line, program first, as the bytes of argv: a file name is bytes,
    // which no text decoding may change.
    explicit SectionListWindow(std::vector<std::string> arguments, QWidget* parent = nullptr);
    ~SectionListWindow() override;

    void SetForms(const Forms& forms);
    velloran::Session& session() { return *session_; }

    // velloran::SectionList
    void Clear() override;
    void Add(std::string_view title) override;
    int Count() const override;
    std::string Title(int k) const override;

    // velloran::Dialogs
    velloran::PromptResult AskKeyPrompt(velloran::KeyText form) override;
    velloran::PromptResult AskSaveDocument(const std::string& fileName,
                                           bool showDoNotExit) override;
    void ShowStatusNotice(const std::string& path) override;
    bool AskYesNo(const std::string& message) override;
    void ShowMessage(const std::string& message) override;
    // A reload is told by the notice, a merge by the merge report; sections to look at are
    // flagged in the list until they are edited.
    void ShowMergeReport(const velloran::MergeReport& report) override;

    void FormShow();
    void ListBox1Click(int index);
    // F1 to F7, whatever the modifiers, and F8 to switch windows; the key is then handled as
    // usual.
    void ListBox1KeyDown(int key);
    // From the text of a section to the list, from anywhere else to the text of the section
    // shown.
    void SwitchWindows();
    // The editors' key handler: the function keys, then Shift+Page Up/Down steps between sections.
    void EditorKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // The open-file dialog; nothing when cancelled.
    std::optional<std::string> ChooseFile();

    void MFNewFileClick();
    void MFReloadClick();
    void MEUndoReplaceAllClick();
    void MFDecriptClick();
    void MFSaveFileClick();
    void MFSaveEncriptClick();
    void MFExportClick();
    void MFPrintClick();
    void MFImportClick();
    void MFExitClick();
    void WordWrap1Click();
    void MVParametersClick();
    void MVSearchClick();
    void MVHelpClick();
    void Statistics1Click();
    void Progress1Click();
    // The history of the section shown in the first pane, or of the one chosen in the list.
    void MVHistoryClick();
    void HistoryOfSectionClick();
    void N1Panel1Click();
    void N2HPanel1Click();
    void N2VPanel1Click();
    void MVCheckSpellingClick();
    void MVSpellingLanguageClick(const std::string& name);

    // Saves that a killed run left unfinished, found at start: what became of them is told when
    // the window is first shown.
    void TellInterruptedWrites(std::vector<velloran::InterruptedWrite> writes) {
        interruptedWrites_ = std::move(writes);
    }

    // The document's file may have changed on disk: a change is reloaded or merged, now unless a
    // dialog is open (then at the next look); folder tells to look for sync tools' conflict copies
    // too.
    void CheckDisk(bool folder);
    // Offers to merge each conflict copy of the document not offered yet in this run.
    void OfferConflictCopies();
    // Shows section k as a click on its title does.
    void ShowSection(int k);
    // True while section k is flagged as holding both versions of lines.
    bool IsFlagged(int k) const;
    DiskWatcher& Watcher() { return *disk_; }

    // Starts a program detached, as set up in process; replaced in tests so that no second
    // editor is left running.
    std::function<bool(QProcess& process)> launcher;

    const QString& ProgramPath() const { return programPath_; }

    QListWidget* ListBox1;
    QAction* MFNewFile;
    QAction* MFReload;
    // Edit > "Undo Replace All": puts back every section the search window's last Replace All
    // changed; enabled while there is one to undo.
    QAction* MEUndoReplaceAll;
    QAction* MFDecript;
    QAction* MFSaveFile;
    QAction* MFSaveEncript;
    QAction* MFExport;
    QAction* MFPrint;
    QAction* MFImport;
    QAction* MFExit;
    QAction* WordWrap1;
    QAction* MVParameters;
    QAction* MVSearch;
    QAction* MVHelp;
    QAction* Statistics1;
    QAction* Progress1;
    QAction* MVHistory;
    // The list's context menu.
    QAction* HistoryOfSection;
    QAction* N1Panel1;
    QAction* N2HPanel1;
    QAction* N2VPanel1;
    // " View ", "Spelling": the installed dictionaries, then "Check Spelling".
    QMenu* MVSpelling;
    QAction* MVCheckSpelling;

    static constexpr const char* kDesignCaption = "Velloran Organizer";
    static constexpr std::string_view kUnmergeableOnDisk =
        "%s has been changed on disk by another program, but that version cannot be merged "
        "with this one: %s. It was left as it is; a save will ask whether to overwrite it.";

  signals:
    // The main window has closed: the program ends.
    void closed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateMenu();
    QAction* AddItem(QMenu* menu, const char* caption, const char* name,
                     void (SectionListWindow::*handler)());
    void ApplySettings();
    void SetPanelMode(int mode);
    // The installed dictionaries into the Spelling menu, and the choice of spelling.ini applied.
    void LoadSpelling();
    void ApplySpelling();
    // Chooses the document, offers what a killed run left of it, and reads it unless recovered.
    void LoadDocument();
    // After every command: the recovery record and the watch of the file follow the run.
    void AfterCommand();
    void ShowFileNameInCaption();
    // Another instance of this program on path, standing a step aside from this one.
    void StartSecondInstance(const QString& path);
    void Flag(int k, bool on);

    std::vector<std::string> arguments_;
    QString programPath_;
    // The FileName the caption shows; none while the caption is still the design one.
    std::optional<std::string> captionFileName_;
    Forms forms_;
    std::unique_ptr<velloran::Session> session_;
    std::unique_ptr<RecoveryKeeper> recovery_;
    std::unique_ptr<DiskWatcher> disk_;
    bool folderPending_ = false;
    // A version on disk that could not be merged, told once.
    std::optional<velloran::FileIdentity> toldUnreadable_;
    std::vector<std::string> offeredCopies_;
    // The words of each section at every opening, save and record, for the Progress window.
    std::unique_ptr<velloran::ProgressRecorder> progress_;
    // Every version of the document, kept off the window thread.
    std::unique_ptr<velloran::HistoryKeeper> history_;
    velloran::SlotObservers observers_;
    std::vector<velloran::InterruptedWrite> interruptedWrites_;
    bool shownOnce_ = false;
    std::vector<velloran::spelling::Dictionary> dictionaries_;
    std::optional<velloran::spelling::Dictionary> dictionary_;
    velloran::SpellingSettings spelling_;
    QActionGroup* spellingLanguages_ = nullptr;
    ViewItems* viewItems_ = nullptr;
};
