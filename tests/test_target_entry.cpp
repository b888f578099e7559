// The conversions behind the panel's output-target line edits: the text shown
// for a DAC code, and a typed text to volts and to a slider position.
#include "app/target_entry.h"

#include <QtTest>
#include <cmath>

class TargetEntryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Found by fuzz_target_entry: with three significant digits every code from
    // 1 V up showed two decimals, up to 5 mV off ("1.16" for code 219's
    // 1.1646 V), more than one 4.1 mV step.
    void shownTextIsTheCodesVoltageToTheMillivolt() {
        QCOMPARE(target::textForCode(219), QString("1.165"));
        QCOMPARE(target::textForCode(224), QString("1.185"));
        QCOMPARE(target::textForCode(228), QString("1.202"));
        QCOMPARE(target::textForCode(179), QString("1.001"));
        QCOMPARE(target::textForCode(178), QString("0.997"));
        QCOMPARE(target::textForCode(157), QString("0.91"));
        QCOMPARE(target::textForCode(81), QString("0.599"));
        QCOMPARE(target::textForCode(57), QString("0.5"));
        for (int code = 0; code <= 255; ++code) {
            const QString text = target::textForCode(code);
            bool number = false;
            const double shown = text.toDouble(&number);
            const double exact = code * 0.0041 + 0.2667;
            QVERIFY2(
                number && std::fabs(shown - exact) <= 0.00051,
                qPrintable(QString("code %1: \"%2\" for %3 V").arg(code).arg(text).arg(exact)));
        }
    }

    // The fuzzer's input, as Latin-1: a no-break space, then a target above 1 V.
    void typedTargetAboveOneVolt() {
        const double volts = target::voltsFromText(QString::fromLatin1("\xa0"
                                                                       "1.166"));
        QCOMPARE(volts, double(1.166f));
        QCOMPARE(target::sliderPosition(volts), 162);
        QCOMPARE(target::textForCode(162 + 57), QString("1.165"));
    }
};

QTEST_APPLESS_MAIN(TargetEntryTest)
#include "test_target_entry.moc"
