#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/dialogs/FileParametersDialog.h"
#include "ui/dialogs/KeyPrompt.h"
#include "ui/dialogs/ReloadNotice.h"
#include "ui/dialogs/SaveDocumentDialog.h"
#include "ui/dialogs/StatusNotice.h"
#include "ui/document/DocumentWindow.h"
#include "ui/list/SectionListWindow.h"
#include "ui/tools/HelpWindow.h"
#include "ui/tools/HistoryWindow.h"
#include "ui/tools/MergeReportWindow.h"
#include "ui/tools/ProgressWindow.h"
#include "ui/tools/SearchWindow.h"
#include "ui/tools/StatisticsWindow.h"

namespace velloran::ui {

// Every window of the program, created once at start in a fixed order and destroyed at the end.
struct WindowSet {
    std::unique_ptr<SectionListWindow> sectionListWindow;
    std::unique_ptr<DocumentWindow> documentWindow;
    std::unique_ptr<HelpWindow> helpWindow;
    std::unique_ptr<SearchWindow> searchWindow;
    std::unique_ptr<KeyPrompt> keyPrompt;
    std::unique_ptr<SaveDocumentDialog> saveDocumentDialog;
    std::unique_ptr<FileParametersDialog> parametersDialog;
    std::unique_ptr<StatusNotice> statusNotice;
    std::unique_ptr<StatisticsWindow> statisticsWindow;
    std::unique_ptr<MergeReportWindow> mergeReportWindow;
    std::unique_ptr<ReloadNotice> reloadNotice;
    std::unique_ptr<ProgressWindow> progressWindow;
    std::unique_ptr<HistoryWindow> historyWindow;

    ~WindowSet();
    // Shows the document window and then the main window, which loads the document.
    void Show();
};

// arguments: argv as it stands, program first.
std::unique_ptr<WindowSet> CreateWindows(const std::vector<std::string>& arguments);

}  // namespace velloran::ui
