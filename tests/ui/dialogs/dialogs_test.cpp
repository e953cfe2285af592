#include <functional>
#include <stdexcept>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include "core/document/Error.h"
#include "ui/dialogs/KeyPrompt.h"
#include "ui/dialogs/SaveDocumentDialog.h"
#include "ui/dialogs/StatusNotice.h"
#include "ui/platform/Geometry.h"
#include "ui/platform/Guard.h"
#include "ui/tools/HelpWindow.h"

using velloran::ModalResult;

namespace {

// Runs answer on the modal dialog that is about to be shown, once its event loop runs.
void WhenModal(std::function<void(QWidget*)> answer, int tries = 1000) {
    QTimer::singleShot(0, [answer = std::move(answer), tries]() mutable {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr && tries > 0) {
            WhenModal(std::move(answer), tries - 1);
            return;
        }
        QVERIFY2(dialog != nullptr, "no modal dialog was shown");
        answer(dialog);
    });
}

QPushButton* Button(QWidget* dialog, const char* name) {
    auto* button = dialog->findChild<QPushButton*>(QString::fromLatin1(name));
    Q_ASSERT(button != nullptr);
    return button;
}

// Types text as key presses that carry it, which QTest::keyClicks cannot do beyond ASCII.
void TypeText(QWidget* widget, const QString& text) {
    for (char32_t ch : text.toUcs4()) {
        const QString one = QString::fromUcs4(&ch, 1);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, one);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, one);
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

QLineEdit* Field(QWidget* dialog) {
    auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"));
    Q_ASSERT(field != nullptr);
    return field;
}

void CheckFont(const QFont& font, const QString& family, int pixels, bool bold) {
    QCOMPARE(font.family(), family);
    QCOMPARE(font.pixelSize(), pixels);
    QCOMPARE(font.bold(), bold);
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QApplication::setApplicationDisplayName(QStringLiteral("Velloran Editor"));
    }

    void keyPromptDesign() {
        KeyPrompt prompt;
        QCOMPARE(prompt.objectName(), QStringLiteral("TForm7"));
        QCOMPARE(prompt.windowTitle(), QStringLiteral("Encript Key"));
        QCOMPARE(Field(&prompt)->text(), QStringLiteral("Encript Key"));
        CheckFont(Field(&prompt)->font(), QStringLiteral("Arial"), 13, true);
        QCOMPARE(Button(&prompt, "Button1")->text(), QStringLiteral("Do Encript"));
        QCOMPARE(Button(&prompt, "Button2")->text(), QStringLiteral("Cancel"));
        for (const char* name : {"Button1", "Button2"}) {
            QCOMPARE(Button(&prompt, name)->width(), 105);
            QVERIFY(!Button(&prompt, name)->autoDefault());
        }
    }

    // The key reaches the cipher as the code-page bytes of what was typed, and the previous key
    // is never offered again.
    void keyPromptReturnsTypedKeyAndForgetsIt() {
        QWidget main;
        main.setGeometry(40, 50, 247, 569);
        KeyPrompt prompt;
        QString shownText;
        QPoint shownAt;
        WhenModal([&](QWidget* dialog) {
            shownText = Field(dialog)->text();
            shownAt = dialog->frameGeometry().topLeft();
            Field(dialog)->setText(QString::fromUtf8("caf\u00e9 \u20ac\u00a0x"));
            Button(dialog, "Button1")->click();
        });
        const auto first = prompt.Ask(&main);
        QCOMPARE(first.result, ModalResult::OK);
        QCOMPARE(first.text, std::string("caf\xE9 \x80\xA0x"));
        QCOMPARE(shownText, QStringLiteral("Encript Key"));
        const QRect outer = main.frameGeometry();
        QCOMPARE(shownAt, QPoint(outer.x() + outer.width(), outer.y()));

        WhenModal([&](QWidget* dialog) {
            shownText = Field(dialog)->text();
            Button(dialog, "Button1")->click();
        });
        const auto second = prompt.Ask(QPoint(10, 20));
        QCOMPARE(shownText, QStringLiteral("Encript Key"));
        QCOMPARE(second.text, std::string("Encript Key"));
    }

    void keyPromptTypingOutsideCodePageShowsQuestionMark() {
        KeyPrompt prompt;
        QString shownText;
        WhenModal([&](QWidget* dialog) {
            QLineEdit* field = Field(dialog);
            field->clear();
            TypeText(field, QString::fromUtf8("a\u0416b\U0001F600c"));
            shownText = field->text();
            Button(dialog, "Button1")->click();
        });
        const auto result = prompt.Ask(QPoint(0, 0));
        QCOMPARE(shownText, QStringLiteral("a?b?c"));
        QCOMPARE(result.text, std::string("a?b?c"));
    }

    // A sealed document's passphrase keeps every character typed, as UTF-8; the legacy key that
    // follows is code-page bytes again, and no typed key stays in the field.
    void keyPromptGivesASealedPassphraseAsUtf8() {
        KeyPrompt prompt;
        QString shownText;
        WhenModal([&](QWidget* dialog) {
            QLineEdit* field = Field(dialog);
            field->clear();
            TypeText(field, QString::fromUtf8("a\u0416b\U0001F600c \u00e9"));
            shownText = field->text();
            Button(dialog, "Button1")->click();
        });
        const auto sealed = prompt.Ask(QPoint(0, 0), velloran::KeyText::Utf8);
        QCOMPARE(shownText, QString::fromUtf8("a\u0416b\U0001F600c \u00e9"));
        QCOMPARE(sealed.text, std::string("a\xD0\x96"
                                          "b\xF0\x9F\x98\x80"
                                          "c \xC3\xA9"));
        QCOMPARE(Field(&prompt)->text(), QStringLiteral("Encript Key"));

        WhenModal([&](QWidget* dialog) {
            QLineEdit* field = Field(dialog);
            field->clear();
            TypeText(field, QString::fromUtf8("a\u0416 \u00e9"));
            Button(dialog, "Button1")->click();
        });
        QCOMPARE(prompt.Ask(QPoint(0, 0)).text, std::string("a? \xE9"));
    }

    // The field's words show until the first keystroke; what is typed then is masked, kept off
    // the clipboard and away from input methods' learning.
    void keyPromptMasksWhatIsTyped() {
        KeyPrompt prompt;
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->setText(QStringLiteral("before"));
        QLineEdit::EchoMode before = QLineEdit::Password;
        QLineEdit::EchoMode typing = QLineEdit::Normal;
        QString shown;
        Qt::InputMethodHints hints;
        WhenModal([&](QWidget* dialog) {
            QLineEdit* field = Field(dialog);
            before = field->echoMode();
            hints = field->inputMethodHints();
            TypeText(field, QStringLiteral("s3cret"));  // replaces the selected words
            typing = field->echoMode();
            shown = field->displayText();
            field->selectAll();
            field->copy();
            QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
            Button(dialog, "Button1")->click();
        });
        const auto result = prompt.Ask(QPoint(0, 0));
        QCOMPARE(result.text, std::string("s3cret"));
        QCOMPARE(before, QLineEdit::Normal);
        QCOMPARE(typing, QLineEdit::Password);
        QVERIFY(!shown.contains(QStringLiteral("s3cret")));
        QCOMPARE(clipboard->text(), QStringLiteral("before"));
        QVERIFY(hints.testFlag(Qt::ImhSensitiveData));
        QVERIFY(hints.testFlag(Qt::ImhNoPredictiveText));
        // The next prompt shows its words again.
        QCOMPARE(Field(&prompt)->echoMode(), QLineEdit::Normal);
        QCOMPARE(Field(&prompt)->text(), QStringLiteral("Encript Key"));
    }

    void keyPromptCancelEscAndEnter() {
        KeyPrompt prompt;
        WhenModal([](QWidget* dialog) { Button(dialog, "Button2")->click(); });
        QCOMPARE(prompt.Ask(QPoint(0, 0)).result, ModalResult::Cancel);

        WhenModal([](QWidget* dialog) { QTest::keyClick(Field(dialog), Qt::Key_Escape); });
        const auto escaped = prompt.Ask(QPoint(0, 0));
        QCOMPARE(escaped.result, ModalResult::Cancel);
        QVERIFY(escaped.text.empty());

        bool openAfterEnter = false;
        WhenModal([&](QWidget* dialog) {
            QTest::keyClick(Field(dialog), Qt::Key_Return);
            QTest::keyClick(Field(dialog), Qt::Key_Enter, Qt::KeypadModifier);
            Button(dialog, "Button1")->setFocus();
            QTest::keyClick(Button(dialog, "Button1"), Qt::Key_Return);
            openAfterEnter = dialog->isVisible();
            Button(dialog, "Button2")->click();
        });
        QCOMPARE(prompt.Ask(QPoint(0, 0)).result, ModalResult::Cancel);
        QVERIFY(openAfterEnter);
    }

    void saveDialogDesign() {
        SaveDocumentDialog dialog;
        QCOMPARE(dialog.objectName(), QStringLiteral("TForm8"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Save Document"));
        QCOMPARE(Field(&dialog)->width(), 305);
        CheckFont(Field(&dialog)->font(), QStringLiteral("Arial"), 13, true);
        const char* names[] = {"Button1", "Button2", "Button3"};
        const char* captions[] = {"Save Document", "Do Not Save", "Do Not Exit"};
        for (int i = 0; i < 3; ++i) {
            QPushButton* button = Button(&dialog, names[i]);
            QCOMPARE(button->text(), QString::fromLatin1(captions[i]));
            CheckFont(button->font(), QStringLiteral("Arial"), 13, true);
            QVERIFY(!button->autoDefault());
        }
    }

    void saveDialogOutcomes_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("showDoNotExit");
        QTest::addColumn<int>("expected");
        const int ok = static_cast<int>(ModalResult::OK);
        const int no = static_cast<int>(ModalResult::No);
        const int cancel = static_cast<int>(ModalResult::Cancel);
        QTest::newRow("Save Document") << "Button1" << true << ok;
        QTest::newRow("Do Not Save") << "Button2" << false << no;
        QTest::newRow("Do Not Exit") << "Button3" << true << cancel;
        QTest::newRow("close box") << "close" << false << cancel;
        QTest::newRow("Esc with Do Not Exit") << "Esc" << true << cancel;
    }

    void saveDialogOutcomes() {
        QFETCH(QString, answer);
        QFETCH(bool, showDoNotExit);
        QFETCH(int, expected);
        QWidget main;
        main.setGeometry(3, 2, 247, 569);
        SaveDocumentDialog dialog;
        QString shownName;
        bool doNotExitShown = false;
        QPoint shownAt;
        WhenModal([&](QWidget* d) {
            shownName = Field(d)->text();
            doNotExitShown = Button(d, "Button3")->isVisible();
            shownAt = d->frameGeometry().topLeft();
            if (answer == QLatin1String("close")) {
                d->close();
            } else if (answer == QLatin1String("Esc")) {
                QTest::keyClick(Field(d), Qt::Key_Escape);
            } else {
                Button(d, answer.toLatin1().constData())->click();
            }
        });
        const auto result = dialog.Ask(QStringLiteral("docs/June.vlp"), showDoNotExit, &main);
        QCOMPARE(static_cast<int>(result.result), expected);
        QCOMPARE(shownName, QStringLiteral("docs/June.vlp"));
        QCOMPARE(doNotExitShown, showDoNotExit);
        QCOMPARE(shownAt, QPoint(3 + main.frameGeometry().width(), main.frameGeometry().y()));
        if (result.result == ModalResult::OK) {
            QCOMPARE(result.text, std::string("docs/June.vlp"));
        }
    }

    void saveDialogReturnsEditedNameAsFileSystemBytes() {
        SaveDocumentDialog dialog;
        WhenModal([](QWidget* d) {
            Field(d)->clear();
            TypeText(Field(d), QString::fromUtf8("Juni \u00e9t\u00e9.vlp"));
            Button(d, "Button1")->click();
        });
        const auto result = dialog.Ask(QStringLiteral("June.vlp"), false, QPoint(0, 0));
        QCOMPARE(result.result, ModalResult::OK);
        QCOMPARE(result.text, std::string("Juni \xC3\xA9t\xC3\xA9.vlp"));
    }

    // Without "Do Not Exit" Esc has nothing to press; Enter never answers the dialog.
    void saveDialogIgnoresEnterAndUnusableEsc() {
        SaveDocumentDialog dialog;
        bool openAfterKeys = false;
        WhenModal([&](QWidget* d) {
            QTest::keyClick(Field(d), Qt::Key_Escape);
            QTest::keyClick(Field(d), Qt::Key_Return);
            Button(d, "Button1")->setFocus();
            QTest::keyClick(Button(d, "Button1"), Qt::Key_Enter, Qt::KeypadModifier);
            openAfterKeys = d->isVisible();
            Button(d, "Button2")->click();
        });
        QCOMPARE(dialog.Ask(QStringLiteral("June.vlp"), false, QPoint(0, 0)).result,
                 ModalResult::No);
        QVERIFY(openAfterKeys);
    }

    void noticeDesign() {
        StatusNotice notice;
        QCOMPARE(notice.objectName(), QStringLiteral("TForm11"));
        QCOMPARE(notice.windowTitle(), QStringLiteral("Status"));
        QCOMPARE(notice.size(), QSize(179, 51));
        QCOMPARE(notice.minimumSize(), notice.maximumSize());
        auto* label = notice.findChild<QLabel*>(QStringLiteral("Label1"));
        QVERIFY(label != nullptr);
        QCOMPARE(label->pos(), QPoint(16, 16));
        QCOMPARE(label->text(), QStringLiteral("File is Saved."));
        QVERIFY(label->wordWrap());
        CheckFont(label->font(), QStringLiteral("MS Sans Serif"), 13, true);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        auto* timer = notice.findChild<QTimer*>(QStringLiteral("Timer1"));
        QVERIFY(timer != nullptr);
        QCOMPARE(timer->interval(), 2000);
        QVERIFY(!timer->isActive());
    }

    void noticeShowsPathThenClosesItself() {
        QWidget documentWindow;
        documentWindow.setGeometry(251, 2, 506, 645);
        StatusNotice notice;
        auto* label = notice.findChild<QLabel*>(QStringLiteral("Label1"));
        auto* timer = notice.findChild<QTimer*>(QStringLiteral("Timer1"));
        notice.ShowPath(QStringLiteral("/home/me/June.vlp"), &documentWindow);
        QVERIFY(notice.isVisible());
        QCOMPARE(label->text(), QStringLiteral("/home/me/June.vlp"));
        QCOMPARE(notice.frameGeometry().topLeft(),
                 documentWindow.frameGeometry().topLeft() + QPoint(100, 0));
        QVERIFY(timer->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!notice.isVisible(), 5000);
        QVERIFY(!timer->isActive());

        // The window is reused, and showing it again starts a fresh two seconds.
        notice.ShowPath(QStringLiteral("/home/me/July.vlp"), QPoint(5, 6));
        QVERIFY(notice.isVisible());
        QVERIFY(timer->isActive());
        QCOMPARE(notice.frameGeometry().topLeft(), QPoint(5, 6));
        QTRY_VERIFY_WITH_TIMEOUT(!notice.isVisible(), 5000);
    }

    // A second save within the two seconds shows its path in the same window, closed by the timer
    // that is already running rather than by a new one.
    void noticeSecondSaveKeepsRunningTimer() {
        StatusNotice notice;
        auto* label = notice.findChild<QLabel*>(QStringLiteral("Label1"));
        auto* timer = notice.findChild<QTimer*>(QStringLiteral("Timer1"));
        QSignalSpy ticks(timer, &QTimer::timeout);
        notice.ShowPath(QStringLiteral("first.vlp"), QPoint(0, 0));
        // Let the running timer get measurably on; a restart would wind it back to the full 2 s.
        const int startedWith = timer->remainingTime();
        QTRY_VERIFY_WITH_TIMEOUT(timer->remainingTime() <= startedWith - 100, 5000);
        notice.ShowPath(QStringLiteral("second.vle"), QPoint(0, 0));
        QVERIFY(timer->remainingTime() <= startedWith - 100);
        QCOMPARE(label->text(), QStringLiteral("second.vle"));
        QVERIFY(notice.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!notice.isVisible(), 5000);
        QCOMPARE(ticks.count(), 1);
        QCOMPARE(QApplication::topLevelWidgets().count(&notice), 1);
    }

    void helpWindowDesign() {
        HelpWindow help;
        QCOMPARE(help.objectName(), QStringLiteral("TForm5"));
        QCOMPARE(help.windowTitle(), QStringLiteral("Help"));
        QCOMPARE(velloran::ui::OuterBounds(&help), QRect(303, 329, 493, 560));
        auto* memo = help.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
        QVERIFY(memo != nullptr);
        QVERIFY(memo->isReadOnly());
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        CheckFont(memo->font(), QStringLiteral("Arial"), 12, false);
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        QCOMPARE(help.frameGeometry(), QRect(303, 329, 493, 560));  // design bounds are outer
        QCOMPARE(memo->geometry(), help.rect());
        QCOMPARE(memo->document()->toPlainText(), HelpWindow::HelpText());
    }

    void helpTextCoversEveryTopic() {
        const QString text = HelpWindow::HelpText();
        const char* topics[] = {
            "[S]",
            "section 0",
            "Velloran.vlp",
            "Velloran.vle",
            "*.v??",
            "New File",
            "Save Document",
            "Do Not Save",
            "Do Not Exit",
            "-prev",
            "-copy",
            "Backup Folder",
            ".vle",
            "anyone determined can undo it",
            ".vls",
            "the text cannot be recovered",
            "Wrong key for",
            "Save Encript",
            "Decript",
            "discard",
            "confirm",
            "Reload",
            "marker line",
            "Search All",
            "2 H Panel",
            "2 V Panel",
            "File Parameters",
            "Statistics",
            "Progress",
            "Daily goal",
            "velloran/progress",
            "Word Wrap",
            "Shift+Page Up",
            "Shift+Page Down",
            "brings it back",
            "Recover them?",
            "velloran/recovery",
            "another window",
            "F1",
            "F2",
            "F3",
            "F4",
            "F5",
            "F6",
            "F7",
        };
        for (const char* topic : topics) {
            QVERIFY2(text.contains(QString::fromLatin1(topic)), topic);
        }
    }

    // Opening the help again moves the one window to the new place and keeps it open.
    void helpShowAtMovesOpenWindow() {
        QWidget main;
        main.setGeometry(3, 2, 247, 569);
        HelpWindow help;
        help.ShowAt(&main);
        QVERIFY(help.isVisible());
        const QRect outer = main.frameGeometry();
        QCOMPARE(help.frameGeometry().topLeft(), QPoint(outer.x() + outer.width(), outer.y()));
        main.move(30, 40);
        help.ShowAt(&main);
        QVERIFY(help.isVisible());
        QCOMPARE(help.frameGeometry().topLeft(),
                 QPoint(30 + main.frameGeometry().width(), main.frameGeometry().y()));
    }

    void guardRunsCommand() {
        int runs = 0;
        QVERIFY(velloran::ui::Guarded(nullptr, [&] { ++runs; }));
        QCOMPARE(runs, 1);
    }

    // A failure stops its command, reaches the user word for word, and the program goes on.
    // The system's reason, when there is one, is the box's informative text.
    void guardShowsErrorAndStopsCommand_data() {
        QTest::addColumn<bool>("ours");
        QTest::addColumn<QString>("detail");
        QTest::newRow("velloran::Error") << true << QString();
        QTest::newRow("velloran::Error with the system's reason")
            << true << QStringLiteral("No space left on device");
        QTest::newRow("other std::exception") << false << QString();
    }

    void guardShowsErrorAndStopsCommand() {
        QFETCH(bool, ours);
        QFETCH(QString, detail);
        QString title;
        QString text;
        QString informative = QStringLiteral("not shown");
        WhenModal([&](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            QVERIFY(box != nullptr);
            title = box->windowTitle();
            text = box->text();
            informative = box->informativeText();
            box->button(QMessageBox::Ok)->click();
        });
        bool reachedEnd = false;
        const bool completed = velloran::ui::Guarded(nullptr, [&] {
            if (ours) {
                throw velloran::Error("Cannot create file /tmp/\xC3\xA9t\xC3\xA9/June.vlp",
                                      detail.toStdString());
            }
            throw std::runtime_error("out of memory");
            reachedEnd = true;
        });
        QVERIFY(!completed);
        QVERIFY(!reachedEnd);
        QCOMPARE(title, QStringLiteral("Velloran Editor"));
        QCOMPARE(text, ours ? QString::fromUtf8("Cannot create file /tmp/\u00e9t\u00e9/June.vlp")
                            : QStringLiteral("out of memory"));
        QCOMPARE(informative, detail);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
