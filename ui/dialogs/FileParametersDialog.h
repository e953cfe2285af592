#pragma once

#include <QDialog>
#include <QString>
#include <string>

#include "core/document/Host.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QAction;
class DocumentWindow;

// The File Parameters dialog: the editor font, its size, word wrap and the backup policy.
// Outcomes: OK "SAVE" (apply and write the settings file), Yes "Use" (apply for this run),
// Cancel "Cancel", Esc or the close box (nothing changes).
class FileParametersDialog : public QDialog {
    Q_OBJECT

  public:
    explicit FileParametersDialog(QWidget* parent = nullptr);

    // Fills the controls from the state, shows the dialog at sectionListWindow's right edge and
    // applies the outcome to the state, both windows and, for "SAVE", the settings file. A failed
    // write throws velloran::Error after the values have been applied. wordWrap is the list
    // window's View menu item, whose check mark follows the choice.
    velloran::ModalResult Run(QWidget& listWindow, QAction& wordWrap,
                              DocumentWindow& documentWindow);
    // The outcome of the last Run.
    velloran::ModalResult Result() const { return result_; }

    // The font choices in their order in the dialog.
    enum class FontChoice { Arial, Courier, Times };
    // By the face's first character, case counting: "A" Arial, "T" Times, anything else Courier.
    static FontChoice FontChoiceOf(const std::string& face);
    static std::string FontFaceOf(FontChoice choice);
    // The text of a backup mode 0 to 2; empty for any other value.
    static QString BackupTypeText(int backupType);

    void ShowBackupTypeText(int backupType);
    void UpDown1Click(int position);

    static constexpr int kDesignLeft = 559;
    static constexpr int kDesignTop = 67;
    static constexpr int kDesignWidth = 242;
    static constexpr int kDesignHeight = 397;

    QLabel* Label1;
    QSpinBox* SpinEdit1;
    QGroupBox* GroupBox1;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;
    QGroupBox* GroupBox2;
    QRadioButton* RadioButton4;
    QRadioButton* RadioButton5;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button1;
    QGroupBox* GroupBox3;
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;
    QLabel* Label2;
    QLineEdit* Edit1;
    QSpinBox* UpDown1;
    QLabel* Label3;

  private:
    velloran::ModalResult result_ = velloran::ModalResult::Cancel;
    void FormShow();
    FontChoice CheckedFont() const;
    void Apply(QWidget& listWindow, QAction& wordWrap, DocumentWindow& documentWindow, bool save);
};
