#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>
#include <ctime>
#include <string>

#include "core/commands/Commands.h"
#include "core/commands/Saving.h"
#include "core/document/Host.h"
#include "core/document/State.h"
#include "core/progress/ProgressLog.h"
#include "core/progress/ProgressRecorder.h"
#include "core/storage/Paths.h"
#include "settings/ProgressSettings.h"
#include "support/TempDir.h"
#include "ui/document/DocumentWindow.h"
#include "ui/platform/Colours.h"
#include "ui/tools/ProgressWindow.h"

using velloran::state;
using velloran::testing::ReadBytes;
using velloran::testing::WriteBytes;
using velloran::ui::ContrastRatio;

namespace {

// 2024-05-01 00:00 UTC; the test runs in UTC.
constexpr std::int64_t kMay1 = 1714521600;
std::int64_t At(int day, int hour) {
    return kMay1 + std::int64_t{day} * 86400 + hour * 3600;
}

// The editor's document window and its progress log, on a clock of the test's.
struct Writer {
    Writer() {
        velloran::ResetState();
        documentWindow.SetSlotObserver(&recorder);
        recorder.SetClock([this] { return now; });
        documentWindow.show();
    }
    void Type(int k, const QString& text) {
        documentWindow.SelectSection(k);
        SectionEditor* ed = documentWindow.SectionEditors(k);
        ed->moveCursor(QTextCursor::End);
        QTest::keyClicks(ed, text);
    }
    void Save() {
        QVERIFY(velloran::SaveDocument(session));
        recorder.Wait();
    }
    // What velloran-cli reads: the log on disk alone.
    velloran::ProgressFigures FromLog(int goal) const {
        const std::string log = std::string(std::getenv("XDG_STATE_HOME")) + "/velloran/progress/" +
                                velloran::LogName(velloran::DocumentPath(state()), 1);
        const auto parsed = velloran::ParseLog(ReadBytes(log), log);
        std::vector<velloran::ProgressEntry> history;
        for (const auto& frame : parsed.frames) {
            history.push_back(*velloran::DecodeEntry(frame, nullptr));
        }
        return velloran::ComputeFigures(history, std::nullopt, now, velloran::kChartDays, goal,
                                        velloran::kDefaultDayStart);
    }

    std::int64_t now = At(1, 10);
    velloran::ProgressRecorder recorder;
    DocumentWindow documentWindow;
    velloran::PlainList list;
    velloran::CallbackDialogs dialogs;
    velloran::Session session{state(), documentWindow, list, documentWindow.Memo1,
                              dialogs, &recorder};
};

QStringList Rows(const QTreeWidget* view) {
    QStringList rows;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        rows << view->topLevelItem(i)->text(0) + " " + view->topLevelItem(i)->text(1);
    }
    return rows;
}

std::vector<std::uint64_t> Bars(const std::vector<velloran::DayWords>& days) {
    std::vector<std::uint64_t> words;
    for (const auto& d : days) {
        words.push_back(d.words);
    }
    return words;
}

}  // namespace

class ProgressWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void init() {
        folder_ = std::make_unique<velloran::testing::WorkFolder>();
        velloran::ResetState();
    }
    void cleanup() { folder_.reset(); }

    void design() {
        ProgressWindow progressWindow;
        QCOMPARE(progressWindow.objectName(), QStringLiteral("TForm12"));
        QCOMPARE(progressWindow.windowTitle(), QStringLiteral("Progress"));
        QCOMPARE(progressWindow.frameGeometry().size(),
                 QSize(ProgressWindow::kDesignWidth, ProgressWindow::kDesignHeight));
        QCOMPARE(progressWindow.findChild<ProgressChart*>("Chart1"), progressWindow.Chart1);
        QCOMPARE(progressWindow.SpinEdit1->text(), QStringLiteral("Off"));
        QVERIFY(!progressWindow.isVisible());
    }

    // Three hundred words over two days' saves: both days in the chart, as the log has them.
    void twoDaysOfWritingAgainstTheLog() {
        WriteBytes("Book.vlp", "Notes\r\n[S] One\r\nfirst words\r\n");
        Writer w;
        w.session.st.FileName = "Book.vlp";
        velloran::OpenChosenDocument(w.session);
        w.Type(1, QString(" alpha").repeated(180));
        w.now = At(1, 19);
        w.Save();
        w.now = At(2, 9);
        w.Type(1, QString(" beta").repeated(120));
        w.Save();

        ProgressWindow progressWindow;
        progressWindow.Attach(&w.recorder, &w.session);
        progressWindow.ShowAt(&w.documentWindow);
        QTRY_VERIFY(progressWindow.isVisible());
        QCOMPARE(progressWindow.Label1->text(), QStringLiteral("Today: 120 words"));
        QVERIFY(!progressWindow.ProgressBar1->isVisible());
        const auto log = w.FromLog(0);
        QCOMPARE(Bars(progressWindow.Chart1->Days()), Bars(log.days));
        QCOMPARE(Bars(progressWindow.Chart1->Days()).back(), 120u);
        QCOMPARE(Bars(progressWindow.Chart1->Days())[velloran::kChartDays - 2], 180u);
        QCOMPARE(Rows(progressWindow.ListView1), QStringList{"120 [S] One"});
        QVERIFY(progressWindow.Label3->isHidden());

        // The goal, set in the window, is kept in progress.ini; QMV.ini is no part of it.
        progressWindow.SpinEdit1->setValue(150);
        QCOMPARE(velloran::LoadProgressSettings().Goal, 150);
        QVERIFY(!QFile::exists("config/QMV.ini"));
        QCOMPARE(progressWindow.Label1->text(), QStringLiteral("Today: 120 of 150 words"));
        QVERIFY(progressWindow.ProgressBar1->isVisibleTo(&progressWindow));
        QCOMPARE(progressWindow.ProgressBar1->value(), 120);
        QCOMPARE(progressWindow.Label2->text(),
                 QStringLiteral("Streak: 1 day at the goal; 30 words to go today"));
        QCOMPARE(progressWindow.Chart1->Goal(), 150);
        QCOMPARE(w.FromLog(150).streak, 1);

        // Typing on shows in the open window once it is recorded, deleting never below zero.
        w.Type(1, QString(" gamma").repeated(40));
        w.recorder.Taken(w.session, velloran::ProgressMoment::Recorded);
        QTRY_COMPARE(progressWindow.Label1->text(), QStringLiteral("Today: 160 of 150 words"));
        QCOMPARE(progressWindow.ProgressBar1->value(), 150);
        QCOMPARE(progressWindow.Label2->text(), QStringLiteral("Streak: 2 days at the goal"));
        w.documentWindow.SectionEditors(1)->selectAll();
        QTest::keyClick(w.documentWindow.SectionEditors(1), Qt::Key_Delete);
        w.recorder.Taken(w.session, velloran::ProgressMoment::Recorded);
        QTRY_COMPARE(progressWindow.Label1->text(), QStringLiteral("Today: 0 of 150 words"));
        QVERIFY(progressWindow.ListView1->topLevelItemCount() == 0);
    }

    // A dark desktop: the chart's background and bars are the palette's, never a fixed light
    // one; a selection colour that stands too close to the background is lifted until bars show.
    void chartFollowsThePalette_data() {
        QTest::addColumn<QColor>("base");
        QTest::addColumn<QColor>("highlight");
        QTest::newRow("a highlight that stands out") << QColor(30, 30, 30) << QColor(60, 140, 220);
        QTest::newRow("qt6ct's darker") << QColor(0x3d, 0x3d, 0x3d) << QColor(0x12, 0x60, 0x8a);
    }
    void chartFollowsThePalette() {
        QFETCH(QColor, base);
        QFETCH(QColor, highlight);
        ProgressWindow progressWindow;
        QPalette dark;
        dark.setColor(QPalette::Base, base);
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        dark.setColor(QPalette::Highlight, highlight);
        progressWindow.setPalette(dark);
        progressWindow.Chart1->SetDays({{1, 0}, {2, 100}, {3, 40}}, 50);
        progressWindow.resize(400, 500);
        progressWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&progressWindow));
        const QImage image = progressWindow.Chart1->grab().toImage();
        QCOMPARE(image.pixelColor(image.width() - 2, 2), base);
        const QRect met = progressWindow.Chart1->BarRect(1);
        const QColor bar = image.pixelColor(met.center().x(), met.top() + 2);
        QVERIFY(ContrastRatio(bar, base) >= 3);
        if (ContrastRatio(highlight, base) >= 3) {
            QCOMPARE(bar, highlight);
        }
        // Short of the goal: the same colour, paler over the background, within the bar's
        // outline.
        const QRect shortRect = progressWindow.Chart1->BarRect(2);
        const QColor inside = image.pixelColor(shortRect.center());
        QVERIFY(inside != bar && inside != base);
        QCOMPARE(image.pixelColor(shortRect.left(), shortRect.center().y()), bar);
        QVERIFY(qAbs(met.height() - shortRect.height() * 5 / 2) <= 2);
    }

  private:
    std::unique_ptr<velloran::testing::WorkFolder> folder_;
};

QTEST_MAIN(ProgressWindowTest)
#include "progress_window_test.moc"
