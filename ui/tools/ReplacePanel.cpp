#include "ui/tools/ReplacePanel.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/document/Error.h"
#include "core/document/State.h"
#include "ui/document/DocumentWindow.h"
#include "ui/document/ShownText.h"
#include "ui/platform/Guard.h"
#include "ui/tools/ReplacePreview.h"

using velloran::state;

namespace {

constexpr const char* kCannotFocus = "Cannot focus a disabled or invisible window";

QString Counted(std::size_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

}  // namespace

ReplacePanel::ReplacePanel(DocumentWindow* documentWindow, const velloran::SectionList* list,
                           QLineEdit* patternField, QWidget* parent)
    : QWidget(parent), documentWindow_(documentWindow), list_(list), patternField_(patternField) {
    setObjectName(QStringLiteral("ReplacePanel"));
    ReplaceEdit = new QLineEdit(this);
    ReplaceEdit->setObjectName(QStringLiteral("ReplaceEdit"));
    ReplaceEdit->setAccessibleName(QStringLiteral("Replace with"));
    ReplaceEdit->setPlaceholderText(QStringLiteral("Replace with"));
    auto check = [this](const char* name, const QString& text) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(QLatin1String(name));
        box->setAccessibleName(QString(text).remove(QLatin1Char('&')));
        return box;
    };
    MatchCase = check("MatchCase", QStringLiteral("Match &case"));
    WholeWords = check("WholeWords", QStringLiteral("&Whole words"));
    RegularExpression = check("RegularExpression", QStringLiteral("Regular e&xpression"));
    auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(QString(text).remove(QLatin1Char('&')));
        return b;
    };
    ReplaceButton = button("ReplaceButton", QStringLiteral("&Replace"));
    ReplaceSectionButton =
        button("ReplaceSectionButton", QStringLiteral("Replace All in &Section"));
    ReplaceDocumentButton =
        button("ReplaceDocumentButton", QStringLiteral("Replace All in &Document"));
    UndoButton = button("UndoButton", QStringLiteral("&Undo Replace All"));
    UndoButton->setEnabled(false);
    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setAccessibleName(QStringLiteral("Replace status"));
    Status->setWordWrap(true);
    Status->setTextFormat(Qt::PlainText);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->setSpacing(2);
    for (QWidget* w : std::initializer_list<QWidget*>{
             ReplaceEdit, MatchCase, WholeWords, RegularExpression, ReplaceButton,
             ReplaceSectionButton, ReplaceDocumentButton, UndoButton, Status}) {
        layout->addWidget(w);
    }
    setTabOrder(ReplaceEdit, MatchCase);
    setTabOrder(MatchCase, WholeWords);
    setTabOrder(WholeWords, RegularExpression);
    setTabOrder(RegularExpression, ReplaceButton);
    setTabOrder(ReplaceButton, ReplaceSectionButton);
    setTabOrder(ReplaceSectionButton, ReplaceDocumentButton);
    setTabOrder(ReplaceDocumentButton, UndoButton);

    connect(ReplaceButton, &QPushButton::clicked, this, &ReplacePanel::ReplaceClick);
    connect(ReplaceSectionButton, &QPushButton::clicked, this,
            &ReplacePanel::ReplaceAllInSectionClick);
    connect(ReplaceDocumentButton, &QPushButton::clicked, this,
            &ReplacePanel::ReplaceAllInDocumentClick);
    connect(UndoButton, &QPushButton::clicked, this, &ReplacePanel::UndoReplaceAllClick);
    // Enter in the field replaces, as it searches in the search field.
    connect(ReplaceEdit, &QLineEdit::returnPressed, this, &ReplacePanel::ReplaceClick);
    runPreview = [](ReplacePreview& preview) { return preview.exec() == QDialog::Accepted; };
}

velloran::FindOptions ReplacePanel::Options() const {
    return {MatchCase->isChecked(), WholeWords->isChecked(), RegularExpression->isChecked()};
}

void ReplacePanel::SetStatus(const QString& text) {
    Status->setText(text);
}

std::optional<std::pair<velloran::Pattern, velloran::Replacement>> ReplacePanel::Compile() {
    const std::string pattern = velloran::ui::DocumentBytes(patternField_->text());
    const std::string replacement = velloran::ui::DocumentBytes(ReplaceEdit->text());
    try {
        velloran::Pattern p(pattern, Options(), state().DocumentEncoding);
        velloran::Replacement r(replacement, p);
        return std::make_pair(std::move(p), std::move(r));
    } catch (const velloran::Error& e) {
        // Explained here, where the pattern is typed, rather than in a box over it.
        SetStatus(QString::fromUtf8(e.what()));
        return std::nullopt;
    }
}

SectionEditor* ReplacePanel::ActiveEditor() const {
    if (!documentWindow_->isVisible() || !documentWindow_->isEnabled()) {
        throw velloran::Error(kCannotFocus);
    }
    SectionEditor* editor =
        documentWindow_->SectionEditors(std::clamp(state().ActiveSection, 0, velloran::kLastSlot));
    if (!editor->isVisible() || !editor->isEnabled()) {
        throw velloran::Error(kCannotFocus);
    }
    return editor;
}

void ReplacePanel::ReplaceClick() {
    velloran::ui::Guarded(this, [this] {
        auto compiled = Compile();
        if (!compiled) {
            return;
        }
        const auto& [pattern, replacement] = *compiled;
        SectionEditor* editor = ActiveEditor();
        SetStatus({});
        try {
            velloran::Selection at = editor->ByteSelection();
            // A selected match is replaced, as one step of the editor's undo; then the next one
            // is selected, as Search selects it.
            if (const auto m = velloran::MatchAt(pattern, editor->ByteView(), at)) {
                const std::string_view text = editor->ByteView();
                const std::string with = replacement.For(text, *m);
                std::string changed(text.substr(0, m->span.start));
                changed += with;
                changed += text.substr(m->span.start + m->span.length);
                editor->ReplaceBytes(changed);
                at = {m->span.start + with.size(), 0};
            }
            const auto next = velloran::FindNextMatch(pattern, editor->ByteView(), at);
            editor->SelectBytes(next ? velloran::Selection{next->span.start, next->span.length}
                                     : velloran::Selection{at.start, 0});
            if (!next) {
                SetStatus(QStringLiteral("No more matches in this section"));
            }
        } catch (const velloran::Error& e) {
            SetStatus(QString::fromUtf8(e.what()));
        }
    });
}

void ReplacePanel::ReplaceAllInSectionClick() {
    velloran::ui::Guarded(this, [this] {
        auto compiled = Compile();
        if (!compiled) {
            return;
        }
        const auto& [pattern, replacement] = *compiled;
        ActiveEditor();
        const int k = std::clamp(state().ActiveSection, 0, state().LastSection);
        try {
            velloran::ReplaceScan scan(*documentWindow_, *list_, k, pattern, replacement, k);
            while (scan.Continue(static_cast<std::size_t>(-1))) {
            }
            Apply(scan.Plan());
        } catch (const velloran::Error& e) {
            SetStatus(QString::fromUtf8(e.what()));
        }
    });
}

void ReplacePanel::ReplaceAllInDocumentClick() {
    velloran::ui::Guarded(this, [this] {
        auto compiled = Compile();
        if (!compiled) {
            return;
        }
        const auto& [pattern, replacement] = *compiled;
        ReplacePreview preview(*documentWindow_, *list_, state().LastSection, pattern, replacement,
                               this);
        if (!runPreview(preview)) {
            SetStatus(QStringLiteral("Nothing was replaced"));
            return;
        }
        try {
            Apply(preview.Plan());
        } catch (const velloran::Error& e) {
            SetStatus(QString::fromUtf8(e.what()));
        }
    });
}

void ReplacePanel::Apply(const velloran::ReplacePlan& plan) {
    velloran::ReplaceResult result = velloran::BuildReplacement(*documentWindow_, plan);
    std::size_t leftOut = 0;
    for (const velloran::ReplaceRow& row : plan.rows) {
        leftOut += row.checked ? 0 : 1;
    }
    QString said = Counted(result.replaced, "replacement", "replacements") +
                   QStringLiteral(" in ") + Counted(result.changes.size(), "section", "sections");
    if (leftOut > 0) {
        said += QStringLiteral(", ") + Counted(leftOut, "match", "matches") +
                (leftOut == 1 ? QStringLiteral(" left as it was")
                              : QStringLiteral(" left as they were"));
    }
    SetStatus(said);
    if (result.changes.empty()) {
        return;
    }
    std::vector<std::pair<int, std::string>> texts;
    for (velloran::SectionChange& change : result.changes) {
        texts.emplace_back(change.section, std::move(change.newText));
    }
    std::optional<int> count;
    if (result.resplit) {
        count = state().LastSection + 1;
    }
    undo_ = SectionsStep::Apply(*documentWindow_, std::move(texts), reloadSections, count);
    UndoButton->setEnabled(true);
    emit undoChanged(true);
}

void ReplacePanel::UndoReplaceAllClick() {
    if (!undo_) {
        return;
    }
    velloran::ui::Guarded(this, [this] {
        SectionsStep undo = std::move(*undo_);
        undo_.reset();
        UndoButton->setEnabled(false);
        emit undoChanged(false);
        undo.Undo(*documentWindow_, reloadSections);
        SetStatus(QStringLiteral("The replacement was undone"));
    });
}
