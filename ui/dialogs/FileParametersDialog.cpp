#include "ui/dialogs/FileParametersDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include "core/document/State.h"
#include "settings/Settings.h"
#include "ui/document/DocumentWindow.h"
#include "ui/platform/Geometry.h"

using velloran::ModalResult;
using velloran::state;

namespace {

// Codes passed to done(); the close box and Esc reject, which is Cancel.
constexpr int kSave = QDialog::Accepted;
constexpr int kUse = 2;

QFont PixelFont(const char* family, int pixels, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

template <class Widget>
Widget* Control(QWidget* parent, const char* name, const char* text, const QFont& font,
                QRect bounds) {
    auto* w = new Widget(QString::fromLatin1(text), parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setFont(font);
    w->setGeometry(bounds);
    return w;
}

// A spin box whose value only its arrows (and the arrow keys and wheel) change: typed text would
// otherwise reach the value through the box's own line edit.
void ArrowsOnly(QSpinBox* box, int maxLength) {
    auto* edit = box->findChild<QLineEdit*>();
    edit->setReadOnly(true);
    edit->setMaxLength(maxLength);
}

}  // namespace

FileParametersDialog::FileParametersDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TForm9"));
    setWindowTitle(QStringLiteral("File Parameters"));
    // The group box captions keep the window's own font.
    setFont(PixelFont("MS Sans Serif", 11, false));
    const QFont choiceFont = PixelFont("Arial", 13, true);
    const QFont labelFont = PixelFont("MS Sans Serif", 13, true);

    const auto label = [&](QWidget* parent, const char* name, const char* text, QRect bounds) {
        return Control<QLabel>(parent, name, text, labelFont, bounds);
    };
    const auto radio = [&](QWidget* parent, const char* name, const char* text, QRect bounds) {
        return Control<QRadioButton>(parent, name, text, choiceFont, bounds);
    };
    const auto check = [&](QWidget* parent, const char* name, const char* text, QRect bounds) {
        return Control<QCheckBox>(parent, name, text, choiceFont, bounds);
    };
    const auto button = [&](const char* name, const char* text, QRect bounds) {
        return Control<QPushButton>(this, name, text, choiceFont, bounds);
    };
    const auto group = [&](const char* name, const char* caption, QRect bounds) {
        return Control<QGroupBox>(this, name, caption, font(), bounds);
    };

    Label1 = label(this, "Label1", "Font Size", QRect(14, 12, 72, 20));
    SpinEdit1 = new QSpinBox(this);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setFont(labelFont);
    SpinEdit1->setRange(6, 14);
    SpinEdit1->setValue(10);
    SpinEdit1->setGeometry(92, 9, 52, 25);
    ArrowsOnly(SpinEdit1, 2);

    GroupBox1 = group("GroupBox1", " Document Font ", QRect(8, 42, 218, 92));
    RadioButton1 = radio(GroupBox1, "RadioButton1", "Arial Font", QRect(14, 18, 190, 22));
    RadioButton2 = radio(GroupBox1, "RadioButton2", "Courier Font", QRect(14, 41, 190, 22));
    RadioButton3 = radio(GroupBox1, "RadioButton3", "Times Font", QRect(14, 64, 190, 22));
    RadioButton2->setChecked(true);

    GroupBox2 = group("GroupBox2", " Word Wrap ", QRect(8, 140, 218, 50));
    RadioButton4 = radio(GroupBox2, "RadioButton4", "Word Wrap", QRect(14, 20, 100, 22));
    RadioButton5 = radio(GroupBox2, "RadioButton5", "No Wrap", QRect(118, 20, 92, 22));
    RadioButton4->setChecked(true);

    GroupBox3 = group("GroupBox3", " Backups ", QRect(8, 196, 218, 128));
    CheckBox1 = check(GroupBox3, "CheckBox1", "Backup Previous Edit", QRect(14, 18, 196, 22));
    CheckBox2 = check(GroupBox3, "CheckBox2", "Backup Current Edit", QRect(14, 40, 196, 22));
    Label2 = label(GroupBox3, "Label2", "Backup Folder:", QRect(10, 66, 108, 20));
    Edit1 = new QLineEdit(QStringLiteral("Backup"), GroupBox3);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFont(PixelFont("MS Sans Serif", 11, true));
    Edit1->setGeometry(120, 64, 90, 22);
    UpDown1 = new QSpinBox(GroupBox3);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    UpDown1->setRange(0, 2);
    UpDown1->setWrapping(false);
    UpDown1->setGeometry(14, 92, 17, 30);
    ArrowsOnly(UpDown1, 1);
    // Only the arrows show: the mode is told by the label beside them.
    UpDown1->findChild<QLineEdit*>()->hide();
    Label3 = label(GroupBox3, "Label3", "Backup to Same Folder as File.", QRect(36, 92, 176, 32));
    Label3->setWordWrap(true);

    Button2 = button("Button2", "SAVE", QRect(8, 334, 68, 28));
    Button3 = button("Button3", "Use", QRect(83, 334, 68, 28));
    Button1 = button("Button1", "Cancel", QRect(158, 334, 68, 28));
    Button3->setDefault(true);
    connect(Button2, &QPushButton::clicked, this, [this] { done(kSave); });
    connect(Button3, &QPushButton::clicked, this, [this] { done(kUse); });
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
    connect(UpDown1, &QSpinBox::valueChanged, this, &FileParametersDialog::UpDown1Click);

    velloran::ui::PlaceOuter(this, QRect(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight));
}

FileParametersDialog::FontChoice FileParametersDialog::FontChoiceOf(const std::string& face) {
    const char first = face.empty() ? '\0' : face.front();
    if (first == 'A') {
        return FontChoice::Arial;
    }
    if (first == 'T') {
        return FontChoice::Times;
    }
    return FontChoice::Courier;
}

std::string FileParametersDialog::FontFaceOf(FontChoice choice) {
    switch (choice) {
        case FontChoice::Arial:
            return "Arial";
        case FontChoice::Times:
            return "Times New Roman";
        case FontChoice::Courier:
            break;
    }
    return "Courier New";
}

QString FileParametersDialog::BackupTypeText(int backupType) {
    switch (backupType) {
        case 0:
            return QStringLiteral("Backup to Same Folder as File.");
        case 1:
            return QStringLiteral("Backup to SUB Folder of File.");
        case 2:
            return QStringLiteral("Backup Folder is Full Drive + Path.");
        default:
            return {};
    }
}

void FileParametersDialog::ShowBackupTypeText(int backupType) {
    const QString text = BackupTypeText(backupType);
    if (!text.isEmpty()) {
        Label3->setText(text);
    }
}

void FileParametersDialog::UpDown1Click(int position) {
    ShowBackupTypeText(position);
}

FileParametersDialog::FontChoice FileParametersDialog::CheckedFont() const {
    if (RadioButton1->isChecked()) {
        return FontChoice::Arial;
    }
    if (RadioButton3->isChecked()) {
        return FontChoice::Times;
    }
    return FontChoice::Courier;
}

void FileParametersDialog::FormShow() {
    const velloran::State& st = state();
    switch (FontChoiceOf(st.FontFace)) {
        case FontChoice::Arial:
            RadioButton1->setChecked(true);
            break;
        case FontChoice::Courier:
            RadioButton2->setChecked(true);
            break;
        case FontChoice::Times:
            RadioButton3->setChecked(true);
            break;
    }
    (st.WordWrap ? RadioButton4 : RadioButton5)->setChecked(true);
    SpinEdit1->setValue(st.FontSize);  // the field keeps it within its range
    CheckBox1->setChecked(st.BackupPrev);
    CheckBox2->setChecked(st.BackupCurr);
    Edit1->setText(QFile::decodeName(st.BackupFolder.c_str()));
    {
        // The label is set once below, not on every step of the position.
        const QSignalBlocker block(UpDown1);
        UpDown1->setValue(st.BackupType);
    }
    // The text of the mode the arrows hold, which is the one a confirm stores: a mode out of
    // range would otherwise leave the text of an earlier opening beside position 0 or 2.
    ShowBackupTypeText(UpDown1->value());
}

ModalResult FileParametersDialog::Run(QWidget& listWindow, QAction& wordWrap,
                                      DocumentWindow& documentWindow) {
    FormShow();
    const QSize design(kDesignWidth, kDesignHeight);
    velloran::ui::PlaceOuter(this, QRect(velloran::ui::AtRightEdgeOf(&listWindow, design), design));
    Button3->setFocus();
    const int code = exec();
    result_ = code == kSave  ? ModalResult::OK
              : code == kUse ? ModalResult::Yes
                             : ModalResult::Cancel;
    if (result_ != ModalResult::Cancel) {
        Apply(listWindow, wordWrap, documentWindow, result_ == ModalResult::OK);
    }
    return result_;
}

void FileParametersDialog::Apply(QWidget& listWindow, QAction& wordWrap,
                                 DocumentWindow& documentWindow, bool save) {
    velloran::State& st = state();
    st.FontFace = FontFaceOf(CheckedFont());
    st.WordWrap = RadioButton4->isChecked();
    wordWrap.setChecked(st.WordWrap);
    st.FontSize = SpinEdit1->value();
    documentWindow.ApplyFormat();
    // Setting it arms the one-shot previous-version backup again.
    st.BackupPrev = CheckBox1->isChecked();
    st.BackupCurr = CheckBox2->isChecked();
    st.BackupType = UpDown1->value();
    st.BackupFolder = QFile::encodeName(Edit1->text()).toStdString();
    if (!save) {
        return;
    }
    const QRect bounds1 = velloran::ui::OuterBounds(&listWindow);
    const QRect bounds2 = velloran::ui::OuterBounds(&documentWindow);
    velloran::Settings set;
    set.Left = bounds1.left();
    set.Top = bounds1.top();
    set.Width = bounds1.width();
    set.Height = bounds1.height();
    set.Width2 = bounds2.width();
    set.Height2 = bounds2.height();
    velloran::TakeFromState(st, set);
    velloran::SaveSettings(set);
}
