// The window system platform the program starts on, from the environment it is given.
#include "ui/platform/Platform.h"

#include <QtTest>
#include <optional>

using velloran::ui::DescribePlatform;
using velloran::ui::PlatformChoice;
using velloran::ui::PreferredPlatform;
using Variable = std::optional<QByteArray>;

Q_DECLARE_METATYPE(Variable)

namespace {

void SetVariable(const char* name, const Variable& value) {
    if (value) {
        qputenv(name, *value);
    } else {
        qunsetenv(name);
    }
}

Variable GetVariable(const char* name) {
    return qEnvironmentVariableIsSet(name) ? Variable(qgetenv(name)) : std::nullopt;
}

}  // namespace

class PlatformTest : public QObject {
    Q_OBJECT

    Variable platform_;
    Variable display_;

    void rows() {
        QTest::addColumn<Variable>("qpaPlatform");
        QTest::addColumn<Variable>("display");
        QTest::addColumn<Variable>("chosen");  // QT_QPA_PLATFORM while the toolkit starts
        QTest::addColumn<QString>("described");
        const Variable none;
        const Variable x11("xcb;wayland");
        QTest::newRow("an X server, nothing chosen: a Wayland session's Xwayland")
            << none << Variable(":0") << x11 << "X11 (DISPLAY=:0)";
        QTest::newRow("an empty choice is none")
            << Variable("") << Variable(":1") << x11 << "X11 (DISPLAY=:1)";
        QTest::newRow("Wayland chosen") << Variable("wayland") << Variable(":0")
                                        << Variable("wayland") << "wayland (QT_QPA_PLATFORM)";
        QTest::newRow("X11 chosen")
            << Variable("xcb") << Variable(":0") << Variable("xcb") << "xcb (QT_QPA_PLATFORM)";
        QTest::newRow("no X server") << none << none << none << "the toolkit's choice (no DISPLAY)";
        QTest::newRow("an empty DISPLAY is none")
            << none << Variable("") << none << "the toolkit's choice (no DISPLAY)";
    }

  private slots:
    void initTestCase() {
        platform_ = GetVariable("QT_QPA_PLATFORM");
        display_ = GetVariable("DISPLAY");
    }
    void cleanup() {
        SetVariable("QT_QPA_PLATFORM", platform_);
        SetVariable("DISPLAY", display_);
    }

    void preferredPlatform_data() { rows(); }
    void preferredPlatform() {
        QFETCH(Variable, qpaPlatform);
        QFETCH(Variable, display);
        QFETCH(Variable, chosen);
        QFETCH(QString, described);
        const auto preferred = PreferredPlatform(qpaPlatform.value_or(""), display.value_or(""));
        QCOMPARE(preferred.has_value(), chosen != qpaPlatform);
        QCOMPARE(DescribePlatform(qpaPlatform.value_or(""), display.value_or("")), described);
    }

    // The choice is in force while it lives, and the user's environment comes back whole,
    // unset variables unset, so that a program started later decides for itself.
    void choiceLastsWhileTheToolkitStarts_data() { rows(); }
    void choiceLastsWhileTheToolkitStarts() {
        QFETCH(Variable, qpaPlatform);
        QFETCH(Variable, display);
        QFETCH(Variable, chosen);
        SetVariable("QT_QPA_PLATFORM", qpaPlatform);
        SetVariable("DISPLAY", display);
        {
            const PlatformChoice choice;
            QCOMPARE(GetVariable("QT_QPA_PLATFORM"), chosen);
        }
        QCOMPARE(GetVariable("QT_QPA_PLATFORM"), qpaPlatform);
        QCOMPARE(GetVariable("DISPLAY"), display);
    }
};

QTEST_MAIN(PlatformTest)
#include "platform_test.moc"
