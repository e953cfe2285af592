#include "ui/platform/Geometry.h"

#include <QtTest>

using velloran::ui::ReachableBounds;

class TestGeometry : public QObject {
    Q_OBJECT

  private slots:
    void reachableBounds_data() {
        QTest::addColumn<QRect>("wanted");
        QTest::addColumn<QRect>("expected");
        const QRect screen(0, 0, 1024, 768);
        Q_UNUSED(screen);
        QTest::newRow("on the screen stays") << QRect(50, 0, 250, 650) << QRect(50, 0, 250, 650);
        QTest::newRow("far right comes back")
            << QRect(99999, 0, 250, 650) << QRect(1024 - 48, 0, 250, 650);
        QTest::newRow("far up comes down") << QRect(50, -5000, 250, 650) << QRect(50, 0, 250, 650);
        QTest::newRow("far left keeps a grip")
            << QRect(-99999, 10, 250, 650) << QRect(48 - 250, 10, 250, 650);
        QTest::newRow("zero width gets the minimum")
            << QRect(50, 0, 0, 650) << QRect(50, 0, 120, 650);
        QTest::newRow("negative size gets the minimum")
            << QRect(50, 0, -10, -300) << QRect(50, 0, 120, 160);
        QTest::newRow("larger than the screen shrinks")
            << QRect(0, 0, 5000, 5000) << QRect(0, 0, 1024, 768);
    }

    void reachableBounds() {
        QFETCH(QRect, wanted);
        QFETCH(QRect, expected);
        QCOMPARE(ReachableBounds(wanted, {QRect(0, 0, 1024, 768)}), expected);
    }

    void theScreenHoldingMostOfTheWindowIsUsed() {
        const QList<QRect> screens{QRect(0, 0, 1024, 768), QRect(1024, 0, 800, 600)};
        QCOMPARE(ReachableBounds(QRect(1100, 100, 300, 700), screens), QRect(1100, 100, 300, 600));
        QCOMPARE(ReachableBounds(QRect(5000, 100, 300, 400), screens),
                 QRect(976, 100, 300, 400));  // on no screen: the first one
    }
};

QTEST_MAIN(TestGeometry)
#include "geometry_test.moc"
