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
};

QTEST_MAIN(StatusIndicatorTest)
#include "test_status_indicator.moc"
