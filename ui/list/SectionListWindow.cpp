#include "ui/list/SectionListWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QShortcut>
#include <QTimer>
#include <algorithm>

#include "core/commands/Commands.h"
#include "core/commands/ConflictCopies.h"
#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/export/Import.h"
#include "core/history/HistoryKeeper.h"
#include "core/merge/DiskMerge.h"
#include "core/progress/ProgressRecorder.h"
#include "core/protection/Cipher.h"
#include "core/protection/Protection.h"
#include "core/recovery/Recovery.h"
#include "core/spelling/PersonalDictionary.h"
#include "core/spelling/SpellingService.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "print/ManuscriptLayout.h"
#include "settings/HistorySettings.h"
#include "settings/ProgressSettings.h"
#include "settings/Settings.h"
#include "ui/dialogs/ExportDialog.h"
#include "ui/dialogs/FileParametersDialog.h"
#include "ui/dialogs/KeyPrompt.h"
#include "ui/dialogs/ReloadNotice.h"
#include "ui/dialogs/SaveDocumentDialog.h"
#include "ui/dialogs/StatusNotice.h"
#include "ui/document/DocumentWindow.h"
#include "ui/document/ShownText.h"
#include "ui/list/ViewItems.h"
#include "ui/platform/Accessibility.h"
#include "ui/platform/Colours.h"
#include "ui/platform/DiskWatcher.h"
#include "ui/platform/Geometry.h"
#include "ui/platform/Guard.h"
#include "ui/platform/Keyboard.h"
#include "ui/platform/RecoveryKeeper.h"
#include "ui/tools/HelpWindow.h"
#include "ui/tools/HistoryWindow.h"
#include "ui/tools/MergeReportWindow.h"
#include "ui/tools/ProgressWindow.h"
#include "ui/tools/ReplacePanel.h"
#include "ui/tools/SearchWindow.h"
#include "ui/tools/StatisticsWindow.h"

using velloran::ModalResult;
using velloran::PromptResult;
using velloran::state;
using velloran::ui::Guarded;
using velloran::ui::RightEdgeOf;

namespace {

// Where the list keeps each title's full bytes, beside the text it shows.
constexpr int kTitleRole = Qt::UserRole;
// Set on a title whose section holds both versions of lines after a merge.
constexpr int kFlagRole = Qt::UserRole + 1;

// Split so that the compiler does not read "??)" as a trigraph.
constexpr char kOpenFilter[] =
    "Velloran Files (*.v?"
    "?)";

// File names are bytes; the toolkit shows them in the locale's encoding.
QString FromPath(const std::string& path) {
    return QFile::decodeName(path.c_str());
}
std::string ToPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

SectionListWindow::SectionListWindow(std::vector<std::string> arguments, QWidget* parent)
    : QMainWindow(parent),
      arguments_(std::move(arguments)),
      programPath_(QCoreApplication::applicationFilePath()) {
    setObjectName("TForm1");
    setWindowTitle(kDesignCaption);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setAccessibleName(QStringLiteral("Sections"));
    ListBox1->setPalette(
        velloran::ui::FixedColours(ListBox1->palette(), QPalette::Base, QColor(224, 224, 192)));
    QFont font("MS Sans Serif");
    font.setPixelSize(13);
    ListBox1->setFont(font);
    ListBox1->setUniformItemSizes(true);
    setCentralWidget(ListBox1);
    // Every change of the selection shows its section, by mouse or by the arrow keys; a click on
    // the entry already selected shows it again after another window changed the panes.
    connect(ListBox1, &QListWidget::currentRowChanged, this, &SectionListWindow::ListBox1Click);
    connect(ListBox1, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ListBox1Click(ListBox1->row(item)); });

    ListBox1->installEventFilter(this);

    CreateMenu();
    // Right-click or the Menu key on a title.
    HistoryOfSection = new QAction(QStringLiteral("History of this section"), this);
    HistoryOfSection->setObjectName(QStringLiteral("HistoryOfSection"));
    connect(HistoryOfSection, &QAction::triggered, this,
            [this] { Guarded(this, [&] { HistoryOfSectionClick(); }); });
    ListBox1->addAction(HistoryOfSection);
    ListBox1->setContextMenuPolicy(Qt::ActionsContextMenu);
    velloran::ui::PlaceOuter(this, QRect(3, 2, 247, 569));

    launcher = [](QProcess& process) { return process.startDetached(); };
}

SectionListWindow::~SectionListWindow() = default;

void SectionListWindow::SetForms(const Forms& forms) {
    forms_ = forms;
    session_ = std::make_unique<velloran::Session>(velloran::Session{
        state(), *forms_.documentWindow, *this, forms_.documentWindow->Memo1, *this});
    forms_.documentWindow->onEditorKeyDown = [this](int key, Qt::KeyboardModifiers modifiers,
                                                    SectionEditor*) {
        EditorKeyDown(key, modifiers);
    };
    forms_.documentWindow->onWindowKeyDown = [this](int key) { ListBox1KeyDown(key); };
    recovery_ = std::make_unique<RecoveryKeeper>(*session_, this);
    forms_.documentWindow->onSectionEdited = [this](int k) {
        if (IsFlagged(k)) {
            Flag(k, false);
        }
    };
    if (forms_.searchWindow) {
        ReplacePanel* replace = forms_.searchWindow->Replace;
        // A replacement that made or unmade a marker line cuts the document anew, as Reload.
        replace->reloadSections = [this] { MFReloadClick(); };
        connect(replace, &ReplacePanel::undoChanged, MEUndoReplaceAll, &QAction::setEnabled);
    }
    if (forms_.mergeReportWindow) {
        forms_.mergeReportWindow->onShowSection = [this](int k) { ShowSection(k); };
    }
    disk_ = std::make_unique<DiskWatcher>(this);
    disk_->onChange = [this](bool folder) { CheckDisk(folder); };
    progress_ =
        std::make_unique<velloran::ProgressRecorder>(velloran::LoadProgressSettings().DayStart);
    session_->progress = progress_.get();
    history_ =
        std::make_unique<velloran::HistoryKeeper>(HistoryRulesOf(velloran::LoadHistorySettings()));
    session_->history = history_.get();
    if (forms_.historyWindow) {
        forms_.historyWindow->Attach(history_.get(), session_.get(), [this] { MFReloadClick(); });
    }
    observers_.Add(recovery_.get());
    observers_.Add(progress_.get());
    forms_.documentWindow->SetSlotObserver(&observers_);
    if (forms_.progressWindow) {
        forms_.progressWindow->Attach(progress_.get(), session_.get());
    }
    viewItems_->Attach(forms_.documentWindow, ListBox1);
}

QAction* SectionListWindow::AddItem(QMenu* menu, const char* caption, const char* name,
                                    void (SectionListWindow::*handler)()) {
    // Every item opens by Alt, its menu's letter and its own, as the desktops around do.
    QAction* action = menu->addAction(velloran::ui::WithMnemonic(menu, QString::fromUtf8(caption)));
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [this, handler] {
        Guarded(this, [&] { (this->*handler)(); });
        AfterCommand();
    });
    return action;
}

void SectionListWindow::CreateMenu() {
    QMenu* file = menuBar()->addMenu(" File ");
    file->setObjectName("MFile");
    velloran::ui::NameMenuTitle(file, "File", QKeySequence(Qt::ALT | Qt::Key_F), this);
    MFNewFile = AddItem(file, "New File", "MFNewFile", &SectionListWindow::MFNewFileClick);
    MFReload = AddItem(file, "Reload", "MFReload", &SectionListWindow::MFReloadClick);
    MFDecript = AddItem(file, "Decript", "MFDecript", &SectionListWindow::MFDecriptClick);
    MFSaveFile = AddItem(file, "Save File - F1", "MFSaveFile", &SectionListWindow::MFSaveFileClick);
    MFSaveEncript =
        AddItem(file, "Save Encript", "MFSaveEncript", &SectionListWindow::MFSaveEncriptClick);
    file->addSeparator();
    MFExport = AddItem(file, "Export…", "MFExport", &SectionListWindow::MFExportClick);
    MFPrint = AddItem(file, "Print…", "MFPrint", &SectionListWindow::MFPrintClick);
    MFImport = AddItem(file, "Import…", "MFImport", &SectionListWindow::MFImportClick);
    file->addSeparator();
    MFExit = AddItem(file, "Exit", "MFExit", &SectionListWindow::MFExitClick);

    QMenu* edit = menuBar()->addMenu(" Edit ");
    edit->setObjectName("MEdit");
    velloran::ui::NameMenuTitle(edit, "Edit", QKeySequence(Qt::ALT | Qt::Key_E), this);
    MEUndoReplaceAll = AddItem(edit, "Undo Replace All", "MEUndoReplaceAll",
                               &SectionListWindow::MEUndoReplaceAllClick);
    MEUndoReplaceAll->setEnabled(false);

    QMenu* view = menuBar()->addMenu(" View ");
    view->setObjectName("MView");
    velloran::ui::NameMenuTitle(view, "View", QKeySequence(Qt::ALT | Qt::Key_V), this);
    WordWrap1 = AddItem(view, "Word Wrap", "WordWrap1", &SectionListWindow::WordWrap1Click);
    WordWrap1->setCheckable(true);
    WordWrap1->setChecked(true);
    MVParameters =
        AddItem(view, "Parameters - F2", "MVParameters", &SectionListWindow::MVParametersClick);
    MVSearch = AddItem(view, "Search - F3", "MVSearch", &SectionListWindow::MVSearchClick);
    MVHelp = AddItem(view, "Help - F4", "MVHelp", &SectionListWindow::MVHelpClick);
    Statistics1 = AddItem(view, "Statistics", "Statistics1", &SectionListWindow::Statistics1Click);
    Progress1 = AddItem(view, "Progress", "Progress1", &SectionListWindow::Progress1Click);
    MVHistory = AddItem(view, "History", "MVHistory", &SectionListWindow::MVHistoryClick);
    MVSpelling = view->addMenu(velloran::ui::WithMnemonic(view, QStringLiteral("Spelling")));
    MVSpelling->setObjectName("MVSpelling");
    MVSpelling->setToolTipsVisible(true);
    MVCheckSpelling = AddItem(MVSpelling, "Check Spelling", "MVCheckSpelling",
                              &SectionListWindow::MVCheckSpellingClick);
    MVCheckSpelling->setCheckable(true);
    spellingLanguages_ = new QActionGroup(this);
    spellingLanguages_->setExclusive(true);
    viewItems_ = new ViewItems(view, this);

    QMenu* panels = menuBar()->addMenu("Panels");
    panels->setObjectName("MPanels");
    velloran::ui::NameMenuTitle(panels, "Panels", QKeySequence(Qt::ALT | Qt::Key_P), this);
    // F10 opens the menu bar at its first menu, as on the desktops around.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this,
            [this, file] { menuBar()->setActiveAction(file->menuAction()); });
    N1Panel1 = AddItem(panels, "1 Panel - F5", "N1Panel1", &SectionListWindow::N1Panel1Click);
    N2HPanel1 = AddItem(panels, "2 H Panel - F6", "N2HPanel1", &SectionListWindow::N2HPanel1Click);
    N2VPanel1 = AddItem(panels, "2 V Panel - F7", "N2VPanel1", &SectionListWindow::N2VPanel1Click);
}

// ---- the section list

void SectionListWindow::Clear() {
    ListBox1->clear();
}

void SectionListWindow::Add(std::string_view title) {
    auto* item = new QListWidgetItem(velloran::ui::ShownTitle(title));
    item->setData(kTitleRole, QByteArray(title.data(), static_cast<qsizetype>(title.size())));
    item->setSizeHint(QSize(0, 16));
    // Filling the list is no selection by the user.
    QSignalBlocker block(ListBox1);
    ListBox1->addItem(item);
}

int SectionListWindow::Count() const {
    return ListBox1->count();
}

std::string SectionListWindow::Title(int k) const {
    return ListBox1->item(k)->data(kTitleRole).toByteArray().toStdString();
}

void SectionListWindow::ListBox1Click(int index) {
    if (index >= 0 && index < Count()) {
        Guarded(this, [&] {
            forms_.documentWindow->SelectSection(index);
            // Also a click on the section already shown brings back a closed document window;
            // with a single section nothing else could.
            if (forms_.documentWindow->isHidden()) {
                forms_.documentWindow->LayoutPanels();
            }
        });
        AfterCommand();
    }
}

bool SectionListWindow::IsFlagged(int k) const {
    const QListWidgetItem* item = ListBox1->item(k);
    return item && item->data(kFlagRole).toBool();
}

void SectionListWindow::Flag(int k, bool on) {
    QListWidgetItem* item = ListBox1->item(k);
    if (!item) {
        return;
    }
    item->setData(kFlagRole, on);
    QFont font = ListBox1->font();
    font.setBold(on);
    item->setFont(font);
    // Colours of their own, so the flag reads on the list's light background.
    item->setForeground(on ? QBrush(QColor(128, 0, 0)) : QBrush());
    item->setBackground(on ? QColor(248, 208, 208) : QBrush());
    item->setToolTip(on ? QStringLiteral("Both versions of lines stand here between marker lines "
                                         "that start with <<<<<<<, ======= and >>>>>>>. Edit the "
                                         "section to keep what should stay.")
                        : QString());
}

void SectionListWindow::ShowSection(int k) {
    if (k < 0 || k >= Count()) {
        return;
    }
    {
        const QSignalBlocker block(ListBox1);
        ListBox1->setCurrentRow(k);
    }
    ListBox1Click(k);
    // The first place both versions stand is shown selected.
    SectionEditor* ed = forms_.documentWindow->SectionEditors(k);
    const std::string_view text = ed->ByteView();
    if (const std::size_t at = text.find(velloran::kConflictStart); at != std::string_view::npos) {
        ed->SelectBytes({at, velloran::kConflictStart.size() - 1});
    }
}

// ---- changes on disk

void SectionListWindow::ShowMergeReport(const velloran::MergeReport& report) {
    forms_.documentWindow->LayoutPanels();
    for (int k : report.flagged) {
        Flag(k, true);
    }
    const velloran::Encoding encoding = state().DocumentEncoding;
    if (report.reload) {
        if (forms_.reloadNotice) {
            forms_.reloadNotice->ShowNotice(SectionEditor::TextFromBytes(report.summary, encoding),
                                            forms_.documentWindow);
        }
    } else if (forms_.mergeReportWindow) {
        forms_.mergeReportWindow->ShowReport(report, encoding, forms_.documentWindow);
    }
}

void SectionListWindow::CheckDisk(bool folder) {
    folderPending_ = folderPending_ || folder;
    // Never inside a dialog's own loop: a command waits there for its answer, and the sections
    // must stay as it found them.
    if (QApplication::activeModalWidget() || !shownOnce_) {
        return;
    }
    velloran::State& st = state();
    Guarded(this, [&] {
        velloran::DiskLook look;
        if (auto read = disk_->TakeRead()) {
            look = velloran::TakeDiskLook(st, read->probe, std::move(read->look));
        } else if (disk_->Reading()) {
            return;  // its end looks again
        } else if (auto probe = velloran::ProbeOnDisk(st, look)) {
            if (velloran::ProtectionOfName(probe->path) == velloran::Protection::Sealed) {
                disk_->Read(std::move(*probe));
                return;
            }
            look = velloran::TakeDiskLook(st, *probe, velloran::ReadDiskProbe(*probe));
        }
        std::string reason;
        velloran::FollowDiskLook(session(), std::move(look), &reason);
        if (!reason.empty()) {
            const auto now = velloran::IdentityOf(st.MergeBasePath);
            if (now != toldUnreadable_) {
                toldUnreadable_ = now;
                ShowMessage(velloran::Format(velloran::Format(kUnmergeableOnDisk, st.MergeBasePath),
                                             reason));
            }
        }
    });
    if (std::exchange(folderPending_, false)) {
        OfferConflictCopies();
    }
    AfterCommand();
}

void SectionListWindow::OfferConflictCopies() {
    const velloran::State& st = state();
    if (st.MergeBasePath.empty()) {
        return;
    }
    if (QApplication::activeModalWidget()) {
        folderPending_ = true;  // at the next look
        return;
    }
    for (const std::string& copy : velloran::ConflictCopiesOf(st.MergeBasePath)) {
        if (std::find(offeredCopies_.begin(), offeredCopies_.end(), copy) != offeredCopies_.end()) {
            continue;
        }
        offeredCopies_.push_back(copy);
        Guarded(this, [&] {
            if (AskYesNo(
                    velloran::Format(velloran::kMergeConflictCopy, velloran::FileNamePart(copy)))) {
                velloran::MergeConflictCopy(session(), copy);
            }
        });
    }
}

void SectionListWindow::AfterCommand() {
    recovery_->Settle();
    if (forms_.historyWindow) {
        forms_.historyWindow->Refresh();
    }
    disk_->Watch(state().MergeBasePath);
    // A save under another name writes elsewhere from now on: the caption says where.
    if (captionFileName_ && *captionFileName_ != state().FileName) {
        ShowFileNameInCaption();
    }
}

void SectionListWindow::ShowFileNameInCaption() {
    captionFileName_ = state().FileName;
    velloran::ui::SetCaption(this, FromPath(velloran::FileNamePart(*captionFileName_)));
}

// ---- the function keys

bool SectionListWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListBox1 && event->type() == QEvent::KeyPress) {
        ListBox1KeyDown(static_cast<QKeyEvent*>(event)->key());
    }
    return QMainWindow::eventFilter(watched, event);  // the list still handles the key
}

void SectionListWindow::ListBox1KeyDown(int key) {
    if (key == velloran::ui::kSwitchKey) {
        SwitchWindows();
        return;
    }
    if (key < Qt::Key_F1 || key > Qt::Key_F7) {
        return;
    }
    Guarded(this, [&] {
        switch (key) {
            case Qt::Key_F1:
                velloran::SaveDocument(session());
                break;
            case Qt::Key_F2:
                MVParametersClick();
                break;
            case Qt::Key_F3:
                MVSearchClick();
                break;
            case Qt::Key_F4:
                MVHelpClick();
                break;
            case Qt::Key_F5:
                SetPanelMode(1);
                break;
            case Qt::Key_F6:
                SetPanelMode(2);
                break;
            case Qt::Key_F7:
                SetPanelMode(3);
                break;
            default:
                break;
        }
    });
    AfterCommand();
}

void SectionListWindow::SwitchWindows() {
    const auto* editor = qobject_cast<const SectionEditor*>(QApplication::focusWidget());
    if (editor && editor->window() == forms_.documentWindow) {
        raise();
        activateWindow();
        ListBox1->setFocus(Qt::ShortcutFocusReason);
    } else {
        Guarded(this, [this] { forms_.documentWindow->FocusShownEditor(); });
    }
}

void SectionListWindow::EditorKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    // Counted from the first pane's section as it was before the key did anything.
    const int p = state().Panel1Section;
    ListBox1KeyDown(key);
    if (!(modifiers & Qt::ShiftModifier) || (key != Qt::Key_PageUp && key != Qt::Key_PageDown)) {
        return;
    }
    Guarded(this, [&] {
        if (key == Qt::Key_PageUp && p >= 1) {
            forms_.documentWindow->SelectSection(p - 1);
        } else if (key == Qt::Key_PageDown && p < state().LastSection) {
            forms_.documentWindow->SelectSection(p + 1);
        }
    });
    AfterCommand();
}

// ---- the dialogs

PromptResult SectionListWindow::AskKeyPrompt(velloran::KeyText form) {
    return forms_.keyPrompt->Ask(this, form);
}

PromptResult SectionListWindow::AskSaveDocument(const std::string& fileName, bool showDoNotExit) {
    return forms_.saveDocumentDialog->Ask(FromPath(fileName), showDoNotExit, this);
}

void SectionListWindow::ShowStatusNotice(const std::string& path) {
    forms_.statusNotice->ShowPath(FromPath(path), forms_.documentWindow);
}

bool SectionListWindow::AskYesNo(const std::string& message) {
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                    QString::fromStdString(message), QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName("QuestionBox");
    box.setDefaultButton(QMessageBox::No);
    velloran::ui::ShowAsPlainText(box);
    return box.exec() == QMessageBox::Yes;
}

void SectionListWindow::ShowMessage(const std::string& message) {
    // Messages carry paths, which are file-system bytes.
    velloran::ui::ShowErrorMessage(this, FromPath(message));
}

std::optional<std::string> SectionListWindow::ChooseFile() {
    QFileDialog dialog(this, QString(), FromPath(state().DocFolder), kOpenFilter);
    dialog.setObjectName("OpenDialog");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return ToPath(dialog.selectedFiles().constFirst());
}

// ---- start and end

void SectionListWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The document is loaded once, when the window is first shown, not at every restore.
    if (!shownOnce_) {
        shownOnce_ = true;
        Guarded(this, [this] { FormShow(); });
    }
}

void SectionListWindow::ApplySettings() {
    velloran::State& st = state();
    const velloran::Settings set = velloran::LoadSettings();
    // The stored values stay as they are; only the windows are kept within reach.
    const int cascade = velloran::ui::CascadeOffset();
    velloran::ui::PlaceOuter(
        this, velloran::ui::ReachableOnScreens(
                  QRect(set.Left + cascade, set.Top + cascade, set.Width, set.Height)));
    velloran::ui::PlaceOuter(
        forms_.documentWindow,
        velloran::ui::ReachableOnScreens(QRect(RightEdgeOf(this), QSize(set.Width2, set.Height2))));
    velloran::ApplyToState(set, st);
    WordWrap1->setChecked(st.WordWrap);
    forms_.documentWindow->ApplyFormat();
}

void SectionListWindow::LoadSpelling() {
    spelling_ = velloran::LoadSpellingSettings();
    dictionaries_ = velloran::spelling::InstalledDictionaries();
    for (QAction* a : spellingLanguages_->actions()) {
        delete a;
    }
    QAction* before = MVCheckSpelling;
    for (const auto& d : dictionaries_) {
        // "English (United States) [en_US]", or the bare name where the toolkit knows none.
        const QString name = QString::fromStdString(d.name);
        const QLocale locale(name);
        QString caption = name;
        if (locale.language() != QLocale::C && name.startsWith(locale.bcp47Name().left(2))) {
            caption = QLocale::languageToString(locale.language());
            if (name.contains('_')) {
                caption += " (" + QLocale::territoryToString(locale.territory()) + ")";
            }
            caption += " [" + name + "]";
        }
        QAction* action = new QAction(caption, spellingLanguages_);
        action->setObjectName("MVSpellingLanguage_" + name);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this,
                [this, d] { Guarded(this, [&] { MVSpellingLanguageClick(d.name); }); });
        MVSpelling->insertAction(before, action);
    }
    if (!dictionaries_.empty()) {
        MVSpelling->insertSeparator(before);
    }
    dictionary_ = velloran::spelling::ChooseDictionary(dictionaries_, spelling_.Language,
                                                       velloran::spelling::LocaleLanguage());
    ApplySpelling();
}

void SectionListWindow::ApplySpelling() {
    const bool any = dictionary_.has_value();
    MVCheckSpelling->setEnabled(any);
    MVCheckSpelling->setChecked(any && spelling_.Check);
    MVCheckSpelling->setToolTip(
        any ? QString()
            : QStringLiteral("No spelling dictionary is installed: install hunspell-en-us or "
                             "another hunspell-* package"));
    for (QAction* a : spellingLanguages_->actions()) {
        a->setChecked(any && a->objectName() ==
                                 "MVSpellingLanguage_" + QString::fromStdString(dictionary_->name));
    }
    const bool checking = any && spelling_.Check;
    auto* current = forms_.documentWindow->Spelling();
    const bool same = current && checking && current->Source() == *dictionary_;
    if (!same) {
        forms_.documentWindow->UseSpelling(checking ? dictionary_ : std::nullopt,
                                           velloran::spelling::PersonalDictionaryPath());
    }
}

void SectionListWindow::MVCheckSpellingClick() {
    spelling_.Check = MVCheckSpelling->isChecked();
    ApplySpelling();
    velloran::SaveSpellingSettings(spelling_);
}

void SectionListWindow::MVSpellingLanguageClick(const std::string& name) {
    for (const auto& d : dictionaries_) {
        if (d.name == name) {
            dictionary_ = d;
        }
    }
    spelling_.Language = name;
    ApplySpelling();
    velloran::SaveSpellingSettings(spelling_);
}

void SectionListWindow::FormShow() {
    velloran::State& st = state();
    if (st.FirstShow) {
        st.FirstShow = false;
        // The settings place both windows, the document window at the list's right edge.
        ApplySettings();
        LoadSpelling();
    }
    // Old bytes kept aside are told at every start, until the user removed them.
    for (const auto& write : std::exchange(interruptedWrites_, {})) {
        ShowMessage(velloran::DescribeInterruptedWrite(write));
    }
    LoadDocument();
    st.FirstShow = true;
    ShowFileNameInCaption();
    AfterCommand();
    // Once the start is over, as a change found later is: the window must be up to ask.
    QTimer::singleShot(0, this, [this] {
        OfferConflictCopies();
        AfterCommand();
    });
}

void SectionListWindow::LoadDocument() {
    std::optional<std::string> argument;
    if (arguments_.size() > 1) {
        argument = arguments_[1];
    }
    velloran::ChooseStartDocument(
        session(), argument, [this] { return ChooseFile(); },
        [](const std::string& path) { return velloran::HasRecord(velloran::AbsolutePath(path)); });
    switch (velloran::OfferRecovery(session(), recovery_->Recorder())) {
        case velloran::StartRecovery::Open:
            velloran::OpenChosenDocument(session());
            break;
        case velloran::StartRecovery::Restored: {
            forms_.documentWindow->LayoutPanels();
            // The list shows a section on screen as chosen, the one Search works on where it
            // can; left without a current entry, the list would take its first entry as chosen
            // once it has the focus, and show that instead.
            const velloran::State& st = state();
            const bool activeShown = st.ActiveSection == st.Panel1Section ||
                                     (st.PanelMode != 1 && st.ActiveSection == st.Panel2Section);
            const QSignalBlocker block(ListBox1);
            ListBox1->setCurrentRow(activeShown ? st.ActiveSection : st.Panel1Section);
            break;
        }
        case velloran::StartRecovery::Quit:
            // Once the start is over; nothing was read, so nothing is asked.
            QTimer::singleShot(0, this, &QWidget::close);
            break;
    }
}

void SectionListWindow::closeEvent(QCloseEvent* event) {
    velloran::State& st = state();
    if (st.Modified && st.ExitPrompt) {
        bool mayClose = false;
        Guarded(this, [&] { mayClose = velloran::SaveWithPrompt(session(), true); });
        if (!mayClose) {
            event->ignore();
            return;
        }
    }
    event->accept();
    recovery_->Close();
    emit closed();
}

// ---- the File menu

void SectionListWindow::StartSecondInstance(const QString& path) {
    // A second instance that cannot be started is not reported.
    QProcess process;
    process.setProgram(programPath_);
    process.setArguments({path});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(velloran::ui::kCascadeVariable,
                       QString::number(velloran::ui::NextCascadeOffset(this)));
    process.setProcessEnvironment(environment);
    launcher(process);
}

void SectionListWindow::MFNewFileClick() {
    if (auto path = ChooseFile()) {
        StartSecondInstance(FromPath(*path));
    }
}

void SectionListWindow::MFReloadClick() {
    velloran::ReloadSections(session());
    forms_.documentWindow->LayoutPanels();
}

void SectionListWindow::MEUndoReplaceAllClick() {
    if (forms_.searchWindow) {
        forms_.searchWindow->Replace->UndoReplaceAllClick();
    }
}

void SectionListWindow::MFDecriptClick() {
    if (velloran::Decript(session())) {
        forms_.documentWindow->LayoutPanels();
    }
}

void SectionListWindow::MFSaveFileClick() {
    velloran::SaveWithPrompt(session(), false);
}

void SectionListWindow::MFExportClick() {
    ExportDialog dialog(session(), this);
    dialog.exec();
}

// The same layout as the PDF, on the printer, with a preview first.
void SectionListWindow::MFPrintClick() {
    if (!MayWriteInClear(session(), this)) {
        return;
    }
    std::string text;
    const velloran::Manuscript m = CurrentBook(session(), text);
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog choose(&printer, this);
    if (choose.exec() != QDialog::Accepted) {
        return;
    }
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [&](QPrinter* p) {
        velloran::ManuscriptLayout layout(m, *p);
        QPainter painter(p);
        layout.PaintAll(painter);
    });
    preview.exec();
}

// A new document from a word processor's file, opened in an editor of its own as New File opens
// one; the file dialog asks before anything is written over.
void SectionListWindow::MFImportClick() {
    const QString source = QFileDialog::getOpenFileName(
        this, "Import", QString(), "Documents (*.docx *.odt *.md *.markdown *.txt)");
    if (source.isEmpty()) {
        return;
    }
    const std::string in = QFile::encodeName(source).toStdString();
    velloran::ImportResult r = velloran::ImportDocument(in);
    // Where the file has headings of several levels, the writer says which are the chapters.
    if (r.levels.size() > 1) {
        QStringList levels;
        for (const int level : r.levels) {
            levels << QStringLiteral("Headings of level %1").arg(level);
        }
        QInputDialog pick(this);
        pick.setObjectName("ImportLevel");
        pick.setWindowTitle("Import");
        pick.setLabelText("Each heading of this level begins a section:");
        pick.setComboBoxItems(levels);
        pick.setTextValue(QStringLiteral("Headings of level %1").arg(r.level));
        if (pick.exec() != QDialog::Accepted) {
            return;
        }
        const int level = *std::next(r.levels.begin(), levels.indexOf(pick.textValue()));
        if (level != r.level) {
            r = velloran::ImportDocument(in, level);
        }
    }
    QString target = source;
    target.truncate(target.lastIndexOf('.'));
    target = QFileDialog::getSaveFileName(this, "Import as", target + ".vlp", kOpenFilter);
    if (target.isEmpty()) {
        return;
    }
    const std::string out = QFile::encodeName(target).toStdString();
    const velloran::WriteResult written =
        velloran::ReplaceFile(out, [&](velloran::OutputFile& file) { file.Write(r.text); });
    if (!written) {
        throw velloran::Error(velloran::Format(velloran::kCannotCreate, out), written.Reason());
    }
    const std::string notes = velloran::ImportNotes(r);
    if (!notes.empty()) {
        // The notes quote the file's headings: outside text.
        QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(),
                        QString::fromStdString(notes), QMessageBox::Ok, this);
        velloran::ui::ShowAsPlainText(box);
        box.exec();
    }
    StartSecondInstance(target);
}

void SectionListWindow::MFSaveEncriptClick() {
    velloran::SaveEncript(session());
}

void SectionListWindow::MFExitClick() {
    velloran::State& st = state();
    st.ExitPrompt = false;
    // Armed again however the command ends, a failed save included, so a later close still asks.
    struct Rearm {
        ~Rearm() { state().ExitPrompt = true; }
    } rearm;
    if (!st.Modified || velloran::SaveWithPrompt(session(), true)) {
        close();
    }
}

// ---- the View and Panels menus

void SectionListWindow::WordWrap1Click() {
    state().WordWrap = WordWrap1->isChecked();
    forms_.documentWindow->ApplyFormat();
}

void SectionListWindow::MVParametersClick() {
    forms_.parametersDialog->Run(*this, *WordWrap1, *forms_.documentWindow);
}

void SectionListWindow::MVSearchClick() {
    forms_.searchWindow->ShowAt(forms_.documentWindow);
}

void SectionListWindow::MVHelpClick() {
    forms_.helpWindow->ShowAt(this);
}

void SectionListWindow::Statistics1Click() {
    forms_.statisticsWindow->ShowAt(this);
}

void SectionListWindow::Progress1Click() {
    forms_.progressWindow->ShowAt(this);
}

void SectionListWindow::MVHistoryClick() {
    if (forms_.historyWindow) {
        forms_.historyWindow->ShowSection(std::clamp(state().ActiveSection, 0, state().LastSection),
                                          this);
    }
}

void SectionListWindow::HistoryOfSectionClick() {
    if (forms_.historyWindow && ListBox1->currentRow() >= 0) {
        forms_.historyWindow->ShowSection(ListBox1->currentRow(), this);
    }
}

void SectionListWindow::SetPanelMode(int mode) {
    state().PanelMode = mode;
    forms_.documentWindow->LayoutPanels();
}

void SectionListWindow::N1Panel1Click() {
    SetPanelMode(1);
}
void SectionListWindow::N2HPanel1Click() {
    SetPanelMode(2);
}
void SectionListWindow::N2VPanel1Click() {
    SetPanelMode(3);
}
