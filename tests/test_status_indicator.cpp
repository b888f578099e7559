// The OK/WARN/FAIL label: exact rich texts, precedence and clearing.
#include "widgets/status_indicator.h"

#include <QtTest>

class StatusIndicatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void precedenceAndClearing() {
        const QString fail = "<div style='color:red;'><b>FAIL</b></div>";
        const QString warn = "<div style='color:orange;'><b>WARN</b></div>";
        const QString ok = "<div style='color:green;'>OK</div>";
        StatusIndicator indicator;
        QCOMPARE(indicator.text(), QString());
        indicator.setFail(0);
        QCOMPARE(indicator.text(), ok);
        indicator.setWarn(5);
        QCOMPARE(indicator.text(), warn);
        indicator.setFail(1);
        QCOMPARE(indicator.text(), fail);
        indicator.setWarn(-1); // not set: signed comparison
        QCOMPARE(indicator.text(), fail);
        indicator.setWarn(1);
        indicator.setFail(0);
        QCOMPARE(indicator.text(), warn);
        indicator.setWarn(0);
        QCOMPARE(indicator.text(), ok);

        indicator.setFail(1);
        indicator.clear();
        QCOMPARE(indicator.text(), QString());
        indicator.update();
        QCOMPARE(indicator.text(), ok);
        indicator.setWarn(1);
        indicator.clear();
        indicator.setWarn(0);
        QCOMPARE(indicator.text(), ok);
        QCOMPARE(indicator.textFormat(), Qt::AutoText);
    }

    // Polling sets the same flags four times a second: that must not repaint
    // the label (nor, as it is not opaque, the window behind it); a change must.
    void repaintsOnlyWhatChanged() {
        struct Paints : QObject {
            int count = 0;
            bool eventFilter(QObject *, QEvent *event) override {
                count += event->type() == QEvent::Paint;
                return false;
            }
        } paints;
        StatusIndicator indicator;
        indicator.setWarn(0);
        indicator.show();
        QVERIFY(QTest::qWaitForWindowExposed(&indicator));
        indicator.installEventFilter(&paints);
        for (int i = 0; i < 5; ++i) // the first paints after showing
            QCoreApplication::processEvents();
        paints.count = 0;
        for (int tick = 0; tick < 5; ++tick) {
            indicator.setWarn(0);
            indicator.setFail(0);
            QCoreApplication::processEvents();
        }
        QCOMPARE(paints.count, 0);
        indicator.setFail(1);
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 1);
        indicator.update(); // the slot still repaints on request
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 2);
    }
};

QTEST_MAIN(StatusIndicatorTest)
#include "test_status_indicator.moc"
