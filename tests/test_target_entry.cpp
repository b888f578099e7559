// The conversions behind the panel's output-target line edits: the text shown
// for a DAC code, and a typed text to volts and to a slider position.
#include "app/target_entry.h"

#include <QtTest>
#include <cmath>

class TargetEntryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The text shown for a code is its voltage, computed in single precision,
    // to three significant digits: "1.2" for the top code, as for a typed 5.
    void shownTextIsTheCodesVoltageToThreeDigits() {
        QCOMPARE(target::textForCode(219), QString("1.16"));
        QCOMPARE(target::textForCode(228), QString("1.2"));
        QCOMPARE(target::textForCode(179), QString("1"));
        QCOMPARE(target::textForCode(178), QString("0.997"));
        QCOMPARE(target::textForCode(157), QString("0.91"));
        QCOMPARE(target::textForCode(81), QString("0.599"));
        QCOMPARE(target::textForCode(57), QString("0.5"));
        for (int code = 0; code <= 255; ++code) {
            const QString text = target::textForCode(code);
            bool number = false;
            const double shown = text.toDouble(&number);
            const double exact = code * 0.0041 + 0.2667;
            const double halfDigit = exact >= 1.0 ? 0.005 : 0.0005;
            QVERIFY2(
                number && std::fabs(shown - exact) <= halfDigit + 1e-6,
                qPrintable(QString("code %1: \"%2\" for %3 V").arg(code).arg(text).arg(exact)));
        }
    }

    // A typed target above 1 V, led by a no-break space (as Latin-1).
    void typedTargetAboveOneVolt() {
        const double volts = target::voltsFromText(QString::fromLatin1("\xa0"
                                                                       "1.166"));
        QCOMPARE(volts, double(1.166f));
        QCOMPARE(target::sliderPosition(volts), 162);
        QCOMPARE(target::textForCode(162 + 57), QString("1.16"));
    }

    // A comma is a decimal separator as well as a point ("0,9" used to become
    // 0.5 V); text that is still no number counts as 0, so 0.5 V.
    void commaOrPointSeparatesTheDecimals() {
        QCOMPARE(target::voltsFromText("0,9"), double(0.9f));
        QCOMPARE(target::voltsFromText(" 1,166 "), double(1.166f));
        QCOMPARE(target::voltsFromText("1,5"), 1.202);
        QCOMPARE(target::voltsFromText("0,3"), 0.5);
        QCOMPARE(target::sliderPosition(target::voltsFromText("0,6")), 24);
        QCOMPARE(target::voltsFromText("0.9"), double(0.9f));
        for (const char *text : {"1,2,3", "0,9.1", "1.000,5", ",", "0,9V", "nan", "i,nf", "abc"})
            QCOMPARE(target::voltsFromText(QString::fromLatin1(text)), 0.5);
    }
};

QTEST_APPLESS_MAIN(TargetEntryTest)
#include "test_target_entry.moc"
