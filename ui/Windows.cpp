#include "ui/Windows.h"

#include "ui/document/EditorAccessible.h"
#include "ui/platform/Accessibility.h"
#include "ui/platform/Keyboard.h"

namespace velloran::ui {

WindowSet::~WindowSet() {
    // The main window goes last: the others may still refer to it while they close.
    historyWindow.reset();
    reloadNotice.reset();
    mergeReportWindow.reset();
    progressWindow.reset();
    statisticsWindow.reset();
    statusNotice.reset();
    parametersDialog.reset();
    saveDocumentDialog.reset();
    keyPrompt.reset();
    searchWindow.reset();
    helpWindow.reset();
    documentWindow.reset();
    sectionListWindow.reset();
}

void WindowSet::Show() {
    documentWindow->show();
    sectionListWindow->show();
}

std::unique_ptr<WindowSet> CreateWindows(const std::vector<std::string>& arguments) {
    InstallAccessibility();
    InstallEditorAccessibility();
    auto set = std::make_unique<WindowSet>();
    set->sectionListWindow = std::make_unique<SectionListWindow>(arguments);
    set->documentWindow = std::make_unique<DocumentWindow>();
    set->helpWindow = std::make_unique<HelpWindow>();
    set->searchWindow =
        std::make_unique<SearchWindow>(set->documentWindow.get(), set->sectionListWindow.get());
    set->keyPrompt = std::make_unique<KeyPrompt>();
    set->saveDocumentDialog = std::make_unique<SaveDocumentDialog>();
    set->parametersDialog = std::make_unique<FileParametersDialog>();
    set->statusNotice = std::make_unique<StatusNotice>();
    set->statisticsWindow = std::make_unique<StatisticsWindow>(set->documentWindow.get());
    set->mergeReportWindow = std::make_unique<MergeReportWindow>();
    set->reloadNotice = std::make_unique<ReloadNotice>();
    set->progressWindow = std::make_unique<ProgressWindow>();
    set->historyWindow = std::make_unique<HistoryWindow>(set->documentWindow.get());
    Forms forms;
    forms.documentWindow = set->documentWindow.get();
    forms.helpWindow = set->helpWindow.get();
    forms.searchWindow = set->searchWindow.get();
    forms.keyPrompt = set->keyPrompt.get();
    forms.saveDocumentDialog = set->saveDocumentDialog.get();
    forms.parametersDialog = set->parametersDialog.get();
    forms.statusNotice = set->statusNotice.get();
    forms.statisticsWindow = set->statisticsWindow.get();
    forms.mergeReportWindow = set->mergeReportWindow.get();
    forms.reloadNotice = set->reloadNotice.get();
    forms.progressWindow = set->progressWindow.get();
    forms.historyWindow = set->historyWindow.get();
    set->sectionListWindow->SetForms(forms);
    // The function keys work from the tool windows as from the list, and Escape closes them.
    SectionListWindow* list = set->sectionListWindow.get();
    for (QWidget* tool : std::initializer_list<QWidget*>{
             set->helpWindow.get(), set->searchWindow.get(), set->statisticsWindow.get(),
             set->progressWindow.get(), set->mergeReportWindow.get(), set->historyWindow.get()}) {
        ForwardFunctionKeys(tool, [list](int key) { list->ListBox1KeyDown(key); });
        CloseOnEscape(tool);
    }
    return set;
}

}  // namespace velloran::ui
