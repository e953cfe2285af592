#include "ui/platform/CommandLine.h"

#include <cstdlib>

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTextStream>
#include <QtTest>

#include "support/TempDir.h"

using velloran::testing::TempDir;
using velloran::testing::WriteBytes;
using velloran::ui::HandleInformationalArguments;

namespace {

struct Outcome {
    std::optional<int> status;
    QString output;
};

Outcome Run(const QStringList& args) {
    Outcome outcome;
    QTextStream out(&outcome.output);
    outcome.status = HandleInformationalArguments(args, out);
    out.flush();
    return outcome;
}

}  // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        // Every case runs in an empty folder, so that no file there is taken for an option.
        folder_ = std::make_unique<TempDir>();
        previous_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QString::fromStdString(folder_->path())));
        ::setenv("XDG_CONFIG_HOME", (*folder_ / "config").c_str(), 1);
    }

    void cleanup() {
        QDir::setCurrent(previous_);
        ::unsetenv("XDG_CONFIG_HOME");
        folder_.reset();
    }

    void HelpPrintsUsageAndSucceeds() {
        const Outcome outcome = Run({"velloran", "--help"});
        QCOMPARE(outcome.status, std::optional<int>(0));
        QVERIFY(outcome.output.startsWith("Usage: velloran [DOCUMENT]\n"));
        QVERIFY(outcome.output.contains("Velloran.vlp"));
        QVERIFY(outcome.output.contains("Velloran.vle"));
        // The settings file where this user's run would keep it, not only the rule.
        const QString settings = QString::fromStdString(*folder_ / "config/QMV.ini");
        QVERIFY2(outcome.output.contains(settings), qPrintable(outcome.output));
        const QString records = qEnvironmentVariable("XDG_STATE_HOME") + "/velloran/recovery";
        QVERIFY2(outcome.output.contains(records), qPrintable(outcome.output));
        // The platform this environment's start would take: CTest chooses offscreen.
        QVERIFY2(outcome.output.contains("Window system: offscreen (QT_QPA_PLATFORM)\n"),
                 qPrintable(outcome.output));
    }

    void VersionPrintsOneLineAndSucceeds() {
        const Outcome outcome = Run({"velloran", "--version"});
        QCOMPARE(outcome.status, std::optional<int>(0));
        static const QRegularExpression line("^Velloran Editor \\d+\\.\\d+\\.\\d+\\n$");
        QVERIFY2(line.match(outcome.output).hasMatch(), qPrintable(outcome.output));
    }

    void ExistingFileOfThatNameIsADocument() {
        WriteBytes(*folder_ / "--help", "[S] Chapter\r\n");
        WriteBytes(*folder_ / "--version", "");
        for (const char* option : {"--help", "--version"}) {
            const Outcome outcome = Run({"velloran", option});
            QCOMPARE(outcome.status, std::nullopt);
            QCOMPARE(outcome.output, QString());
        }
    }

    void OtherCommandLinesStartTheEditor() {
        const QList<QStringList> lines = {
            {},
            {"velloran"},
            {"velloran", "June.vlp"},
            {"velloran", "-h"},
            {"velloran", "--HELP"},
            {"velloran", "--help=1"},
            {"velloran", "June.vlp", "--help"},
        };
        for (const QStringList& args : lines) {
            const Outcome outcome = Run(args);
            QVERIFY2(!outcome.status.has_value(), qPrintable(args.join(' ')));
            QCOMPARE(outcome.output, QString());
        }
    }

    void ProgramIconDrawsThePage() {
        const QIcon icon = velloran::ui::ProgramIcon();
        QVERIFY(!icon.isNull());
        // A scalable icon is drawn at any size; an unreadable one gives an empty pixmap.
        for (int size : {16, 48, 256}) {
            const QImage image = icon.pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            int opaque = 0;
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    opaque += qAlpha(image.pixel(x, y)) == 255 ? 1 : 0;
                }
            }
            QVERIFY2(opaque > size * size / 3, qPrintable(QString::number(opaque)));
        }
    }

  private:
    std::unique_ptr<TempDir> folder_;
    QString previous_;
};

QTEST_MAIN(TestCommandLine)
#include "command_line_test.moc"
