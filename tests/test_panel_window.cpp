// The real window against the simulated board: the form and its initial state,
// power-on for each regulator count, the controls and the bytes they send, the
// execute-on-change rule, telemetry means, indicators, the activity log, the
// power-off and close sequences; and an hour of logging.
#include "app/mainwindow.h"
#include "app/target_entry.h"
#include "device/conversions.h"
#include "link/motherboard.h"
#include "tests/support/simulated_panel.h"
#include "widgets/status_indicator.h"
#include "window_test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QToolButton>
#include <QtTest>
#include <cmath>
#include <malloc.h>

namespace {
void press(QWidget *button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void typeTarget(MainWindow &w, const char *edit, const QString &text) {
    QLineEdit *line = widget<QLineEdit>(&w, edit);
    line->setText(text);
    QTest::keyClick(line, Qt::Key_Return);
}
} // namespace

class PanelWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<SimulatedPanel> panel;
    SimulatedBridge *bridge = nullptr;

    MainWindow &open(const char *model, bool show = true) {
        panel.reset(); // the old board goes before the new one starts
        panel = std::make_unique<SimulatedPanel>(model, show);
        bridge = &panel->bridge();
        return panel->window();
    }
    MainWindow &powered(const char *model) {
        MainWindow &w = open(model);
        press(widget<QPushButton>(&w, "pvin_on_btn"));
        bridge->clearTraffic();
        return w;
    }

private Q_SLOTS:
    void initTestCase() { hermeticHidBus(); }
    void cleanup() { panel.reset(); }

    void formAndInitialState() {
        MainWindow &w = open("QM4434", false);
        QCOMPARE(w.windowTitle(), QString("QM44xxC Demo"));
        w.show();
        QCOMPARE(widget<QGroupBox>(&w, "groupBox")->title(), QString("Core"));
        QCOMPARE(widget<QLabel>(&w, "label_25")->text(), QString("Die Temp [°C]"));
        QCOMPARE(widget<QLabel>(&w, "label_3")->text(), QString("Disabled"));
        QCOMPARE(widget<QPushButton>(&w, "loadButton")->text(), QString("Execute"));
        QVERIFY(!widget<QPushButton>(&w, "loadButton")->isEnabled());
        QCheckBox *autoExec = widget<QCheckBox>(&w, "autoExecCB");
        QVERIFY(autoExec->isChecked() && !autoExec->isEnabled());
        QCOMPARE(autoExec->text(), QString("Execute on Change"));
        QVERIFY(!widget<QPushButton>(&w, "pvin_on_btn")->icon().isNull());
        QVERIFY(widget<QToolButton>(&w, "activeButton")->isChecked());
        QVERIFY(!widget<QToolButton>(&w, "telemButton")->isChecked());
        QCOMPARE(widget<QListView>(&w, "listView")->editTriggers(),
                 QAbstractItemView::EditTriggers(QAbstractItemView::NoEditTriggers));

        const char *groups[] = {"groupBox_2", "groupBox_3", "groupBox_7"};
        for (int n = 1; n <= 3; ++n) {
            QGroupBox *group = widget<QGroupBox>(&w, groups[n - 1]);
            QCOMPARE(group->title(), QString("VR%1").arg(n));
            QVERIFY(!group->isEnabled());
            QComboBox *dvs = widget<QComboBox>(&w, qPrintable(QString("dvsRate%1").arg(n)));
            QCOMPARE(dvs->count(), 16);
            QCOMPARE(dvs->itemText(15), QString("15744"));
            QCOMPARE(widget<QComboBox>(&w, qPrintable(QString("ssRate%1").arg(n)))->itemText(3),
                     QString("3.9"));
            QSlider *slider =
                widget<QSlider>(&w, qPrintable(QString("horizontalSlider_%1").arg(n + 4)));
            QCOMPARE(slider->maximum(), 171);
            QCOMPARE(slider->value(), 0);
            QCOMPARE(widget<QLineEdit>(&w, qPrintable(QString("lineEdit_%1").arg(n + 4)))->text(),
                     QString("0.5"));
        }
        QVERIFY(!widget<QGroupBox>(&w, "groupBox_9")->isEnabled());
        for (StatusIndicator *indicator : w.findChildren<StatusIndicator *>())
            QCOMPARE(indicator->text(), QString());
        QCOMPARE(w.findChildren<StatusIndicator *>().size(), 12);

        // File holds only Exit, Help only About; Set Hexfile is in no menu.
        QList<QAction *> menus = w.menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), QString("File"));
        QCOMPARE(menus[0]->menu()->actions().size(), 1);
        QCOMPARE(menus[0]->menu()->actions()[0]->text(), QString("Exit"));
        QCOMPARE(menus[1]->menu()->actions()[0]->text(), QString("About"));
        QAction *hex = w.findChild<QAction *>("actionSetHex");
        QCOMPARE(hex->text(), QString("Set Hexfile"));
        QVERIFY(hex->associatedWidgets().isEmpty());

        // Every slot is reachable by name; building the window sent nothing.
        const QStringList common = {"timerLoop()",
                                    "syncUI()",
                                    "enableLog(bool)",
                                    "addMsg(QString)",
                                    "clearMsgs()",
                                    "aboutDialog()",
                                    "enableTrio(bool)",
                                    "load()",
                                    "openConfigFile()",
                                    "saveConfigFile()",
                                    "saveHexFile()",
                                    "get_vin_telemetry()",
                                    "get_temp_telemetry()",
                                    "get_core_status()",
                                    "check_pvin_bound(double)",
                                    "check_vout_bound(double)",
                                    "check_dcload_bound(int,double)",
                                    "on_loadButton_clicked()",
                                    "on_pvin_on_btn_clicked()"};
        QStringList perRegulator = {"set_vr%1_enabled(int)",
                                    "set_vr%1_dac_target(int)",
                                    "set_vr%1_dvs_rate(int)",
                                    "set_vr%1_ss_rate(int)",
                                    "set_vr%1_clim_rate(int)",
                                    "get_vout%1_telemetry()",
                                    "get_vr%1_status()",
                                    "enable_vr%1_ctrl(int)",
                                    "set_vr%1_display(quint8)",
                                    "disable_vr%1()",
                                    "on_vr%1enable_stateChanged(int)",
                                    "on_dvsRate%1_currentIndexChanged(int)",
                                    "on_ssRate%1_currentIndexChanged(int)"};
        QStringList all = common;
        for (int n = 1; n <= 3; ++n) {
            for (const QString &pattern : perRegulator)
                all << pattern.arg(n);
            all << QString("on_horizontalSlider_%1_valueChanged(int)").arg(n + 4)
                << QString("on_lineEdit_%1_returnPressed()").arg(n + 4);
        }
        for (const QString &signature : all)
            QVERIFY2(w.metaObject()->indexOfSlot(qPrintable(signature)) >= 0,
                     qPrintable(signature));
        QVERIFY(bridge->reports().empty());
    }

    void powerOnEnablesOnePanelPerRegulator_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("count");
        QTest::newRow("one") << "QM4411" << 1;
        QTest::newRow("two") << "QM4423" << 2;
        QTest::newRow("three") << "QM4433" << 3;
    }
    void powerOnEnablesOnePanelPerRegulator() {
        QFETCH(QString, model);
        QFETCH(int, count);
        MainWindow &w = open(qPrintable(model));
        press(widget<QPushButton>(&w, "pvin_on_btn"));
        QCOMPARE(widget<QLabel>(&w, "label_3")->text(), QString("Enabled"));
        QVERIFY(widget<QPushButton>(&w, "loadButton")->isEnabled());
        QVERIFY(widget<QCheckBox>(&w, "autoExecCB")->isEnabled());
        const char *groups[] = {"groupBox_2", "groupBox_3", "groupBox_7"};
        for (int n = 1; n <= 3; ++n) {
            QGroupBox *group = widget<QGroupBox>(&w, groups[n - 1]);
            QCOMPARE(group->isEnabled(), n <= count);
        }
        QVERIFY(widget<QGroupBox>(&w, "groupBox_9")->isEnabled());
        QCOMPARE(panel->logRows().first(), QString("Setting EN high"));
        // The chip's defaults reached the controls; no commit was needed.
        QCOMPARE(widget<QLineEdit>(&w, "lineEdit_5")->text(), QString("0.751"));
        QCOMPARE(widget<QSlider>(&w, "horizontalSlider_5")->value(), 118 - 57);
        QCOMPARE(widget<QComboBox>(&w, "ssRate1")->currentIndex(), 3);
        QCOMPARE(widget<QLineEdit>(&w, "lineEdit_6")->text(),
                 count == 1 ? QString("N/A") : QString("0.751"));
        QCOMPARE(widget<QLineEdit>(&w, "lineEdit_7")->text(),
                 count == 3 ? QString("0.751") : QString("N/A"));
        QVERIFY(bridge->writes().empty());
        // Waited for: the regulator's power-up after EN, then its settling.
        QVERIFY(panel->clock().waits() == (std::vector<long>{250, 250}));

        // Every control of panel 2 on a two-regulator chip drives page 3.
        if (count >= 2) {
            bridge->clearTraffic();
            widget<QCheckBox>(&w, "vr2enable")->setChecked(true);
            widget<QComboBox>(&w, "dvsRate2")->setCurrentIndex(7);
            widget<QSlider>(&w, "horizontalSlider_6")->setValue(100);
            const QString page = count == 2 ? "c" : "8";
            const QString address = hexByte(uint8_t(bridge->chip().address()));
            QCOMPARE(busWrites(*bridge),
                     (QStringList{address + ": " + page + "0 08", address + ": 0f 01",
                                  address + ": " + page + "3 07", address + ": 0f 01",
                                  address + ": " + page + "1 9d", address + ": 0f 01"}));
            QCOMPARE(widget<QLineEdit>(&w, "lineEdit_6")->text(), QString("0.91"));
        }
    }

    void targetSliderAndLineEditChain() {
        MainWindow &w = powered("QM4434");
        QSlider *slider = widget<QSlider>(&w, "horizontalSlider_5");
        struct Case {
            QString typed;
            int position;
            QString shown;
            QString sent;
        };
        // Text that is no finite number ("inf", "abc") counts as 0, so 0.5 V.
        // The text is the code's voltage to three significant digits.
        const QList<Case> cases = {
            {"0.6", 24, "0.599", "11: 41 51"},   {"5", 171, "1.2", "11: 41 e4"},
            {"inf", 0, "0.5", "11: 41 39"},      {"1.0", 121, "0.997", "11: 41 b2"},
            {"1.166", 162, "1.16", "11: 41 db"}, {"abc", 0, "0.5", "11: 41 39"}};
        for (const Case &c : cases) {
            bridge->clearTraffic();
            typeTarget(w, "lineEdit_5", c.typed);
            QCOMPARE(slider->value(), c.position);
            QCOMPARE(widget<QLineEdit>(&w, "lineEdit_5")->text(), c.shown);
            QCOMPARE(busWrites(*bridge), (QStringList{c.sent, "11: 0f 01"}));
        }
        QCOMPARE(bridge->chip().activePageRegister(1, 1), uint8_t(0x39));

        // Typing the voltage the slider already stands for sends nothing.
        typeTarget(w, "lineEdit_5", "0.5");
        bridge->clearTraffic();
        typeTarget(w, "lineEdit_5", "0.5");
        QVERIFY(bridge->writes().empty());
        QCOMPARE(widget<QLineEdit>(&w, "lineEdit_5")->text(), QString("0.5"));
    }

    // The text shown for any code is its voltage, computed in single precision,
    // to three significant digits. A typed target may separate its decimals with
    // a comma ("0,9" used to become 0.5 V); text that is still no number counts
    // as 0, so 0.5 V. (fuzz_target_entry checks the same rules on its corpus.)
    void targetTextsAndTypedTargets() {
        QCOMPARE(target::textForCode(179), QString("1"));
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
        QCOMPARE(target::voltsFromText(" 1,166 "), double(1.166f));
        QCOMPARE(target::voltsFromText("1,5"), 1.202);
        QCOMPARE(target::voltsFromText("0,3"), 0.5);
        for (const char *text : {"1,2,3", "0,9.1", "1.000,5", ",", "0,9V", "nan", "i,nf", "abc"})
            QCOMPARE(target::voltsFromText(QString::fromLatin1(text)), 0.5);
    }

    void executeOnChangeOffMarksAndWaits() {
        MainWindow &w = powered("QM4434");
        QPushButton *execute = widget<QPushButton>(&w, "loadButton");
        widget<QCheckBox>(&w, "autoExecCB")->setChecked(false);

        widget<QCheckBox>(&w, "vr1enable")->setChecked(true);
        widget<QComboBox>(&w, "ssRate1")->setCurrentIndex(15);
        QCOMPARE(execute->styleSheet(), QString("background: red"));
        QVERIFY(bridge->writes().empty());

        // A slider sends at once (its commit carries what is pending) and leaves the mark.
        widget<QSlider>(&w, "horizontalSlider_5")->setValue(43);
        QCOMPARE(busWrites(*bridge), (QStringList{"11: 40 08 64 af", "11: 0f 01"}));
        QCOMPARE(execute->styleSheet(), QString("background: red"));

        bridge->clearTraffic();
        widget<QComboBox>(&w, "dvsRate1")->setCurrentIndex(2);
        widget<QComboBox>(&w, "ssRate3")->setCurrentIndex(2); // clim 0
        QVERIFY(bridge->writes().empty());
        press(execute);
        QCOMPARE(execute->styleSheet(), QString("background: normal"));
        QCOMPARE(busWrites(*bridge), (QStringList{"11: 43 02", "11: c2 02", "11: 0f 01"}));

        // Nothing pending: Execute clears the mark and sends nothing.
        bridge->clearTraffic();
        press(execute);
        QVERIFY(bridge->writes().empty());

        // Soft-start index 3 gives clim 1.
        widget<QCheckBox>(&w, "autoExecCB")->setChecked(true);
        widget<QComboBox>(&w, "ssRate2")->setCurrentIndex(14);
        widget<QComboBox>(&w, "ssRate2")->setCurrentIndex(3);
        QCOMPARE(busWrites(*bridge),
                 (QStringList{"11: 82 ae", "11: 0f 01", "11: 82 13", "11: 0f 01"}));
    }

    void telemetryMeansAndIndicators() {
        MainWindow &w = powered("QM4422");
        QLCDNumber *vin = widget<QLCDNumber>(&w, "vinTelem");
        const double sample = conv::vinFromCode(179);
        w.timerLoop();
        QCOMPARE(vin->value(), (0.0 + sample) * 0.125);
        w.timerLoop();
        QCOMPARE(vin->value(), (0.0 + sample + sample) * 0.125);
        for (int i = 3; i <= 8; ++i)
            w.timerLoop();
        double sum = 0.0;
        for (int i = 0; i < 8; ++i)
            sum += sample;
        QCOMPARE(vin->value(), sum * 0.125);
        QCOMPARE(widget<QLCDNumber>(&w, "tempTelem")->value(), conv::temperatureFromCode(123));
        QCOMPARE(widget<QLCDNumber>(&w, "vr2vout")->value(), 0.0); // outputs off: 0, not 0.2667
        // What the indicators say, in this order ("" for none: no third regulator).
        auto flags = [&] {
            QStringList said;
            for (const char *name :
                 {"vinUv", "vinOv", "oTemp", "vr1sc", "vr2sc", "vr2uv", "vr2ov", "vr3sc"})
                said << shown(widget<StatusIndicator>(&w, name));
            return said.join(' ');
        };
        QCOMPARE(flags(), QString("OK OK OK OK OK OK OK "));

        // Panel 2 shows page 3; panel 3 shows page 2.
        widget<QCheckBox>(&w, "vr2enable")->setChecked(true);
        for (int i = 0; i < 8; ++i)
            w.timerLoop();
        QCOMPARE(widget<QLCDNumber>(&w, "vr2vout")->value(), conv::voutFromCode(118));
        QCOMPARE(widget<QLCDNumber>(&w, "vr3vout")->value(), 0.0);

        SimulatedChip &chip = bridge->chip();
        chip.setInputVoltage(1.55);
        chip.setAmbient(110);
        chip.setPageFault(3, false, false, true);
        w.timerLoop();
        QCOMPARE(flags(), QString("FAIL OK WARN OK FAIL WARN OK "));
        chip.setInputVoltage(1.62);
        chip.setPageFault(3, true, false, false);
        w.timerLoop();
        QCOMPARE(flags(), QString("WARN OK WARN OK OK OK WARN "));
        chip.setInputVoltage(1.97);
        chip.setAmbient(130);
        w.timerLoop();
        QCOMPARE(flags(), QString("OK WARN FAIL OK OK OK WARN "));
        chip.setInputVoltage(2.05);
        w.timerLoop();
        QCOMPARE(flags(), QString("OK FAIL FAIL OK OK OK WARN "));

        // Bound checks: PVIN, and the load of each regulator the chip has.
        QCOMPARE(w.check_pvin_bound(1.0), 1.599);
        QCOMPARE(w.check_dcload_bound(2, 9.0), 2.0);
        QCOMPARE(w.check_dcload_bound(4, 1.0), 0.0);
        QCOMPARE(w.check_dcload_bound(1, -1.0), 0.0);
    }

    void activityLogActiveTelemClear() {
        MainWindow &w = powered("QM4411");
        QToolButton *active = widget<QToolButton>(&w, "activeButton");
        QToolButton *telem = widget<QToolButton>(&w, "telemButton");
        QToolButton *clear = widget<QToolButton>(&w, "clearButton");
        const int before = panel->logRows().size();
        w.timerLoop();
        QCOMPARE(panel->logRows().size(), before); // Telem off: the poll is not logged

        widget<QCheckBox>(&w, "vr1enable")->setChecked(true);
        QCOMPARE(panel->logRows().mid(before),
                 (QStringList{"I2C Write, Addr 0x19 => [ 0x40 0x08 ]",
                              "I2C Write, Addr 0x19 => [ 0x0f 0x01 ]"}));

        press(telem);
        w.timerLoop();
        // Five telemetry reads, four core-status reads, one page status: two lines each.
        const QStringList polled = panel->logRows().mid(before + 2);
        QCOMPARE(polled.size(), 2 * (5 + 4 + 1));
        QCOMPARE(polled.first(), QString("I2C Write, Addr 0x19 => [ 0x01 ]"));
        QCOMPARE(polled.last(), QString("I2C Read,  Addr 0x19 <= [ 0x08 ]"));

        press(active); // off: nothing is stored, and it does not come back later
        w.timerLoop();
        widget<QCheckBox>(&w, "vr1enable")->setChecked(false);
        const int kept = panel->logRows().size();
        QCOMPARE(kept, before + 2 + 20);
        press(active);
        QCOMPARE(panel->logRows().size(), kept);

        // Clear acts when pressed, before release, even while logging is off.
        press(active);
        QTest::mousePress(clear, Qt::LeftButton);
        QVERIFY(panel->logRows().isEmpty());
        QTest::mouseRelease(clear, Qt::LeftButton);
        QVERIFY(!active->isChecked());
        press(active);
        widget<QCheckBox>(&w, "vr1enable")->setChecked(true);
        QCOMPARE(panel->logRows().size(), 2);
    }

    void powerOffUndoesTheControls() {
        MainWindow &w = powered("QM4433");
        widget<QCheckBox>(&w, "vr1enable")->setChecked(true);
        widget<QCheckBox>(&w, "vr3enable")->setChecked(true);
        widget<QComboBox>(&w, "dvsRate2")->setCurrentIndex(9);
        widget<QCheckBox>(&w, "autoExecCB")->setChecked(false);
        widget<QComboBox>(&w, "ssRate1")->setCurrentIndex(5); // pending, marked red
        w.timerLoop();
        bridge->clearTraffic();

        press(widget<QPushButton>(&w, "pvin_on_btn"));
        QCOMPARE(widget<QLabel>(&w, "label_3")->text(), QString("Disabled"));
        QVERIFY(!bridge->en());
        // EN goes low first; the unchecked boxes and reset selectors are then only
        // marked (Execute on Change is off), and the mark is removed at the end.
        QCOMPARE(reportHeads(*bridge), QStringList{"30 01 00"});
        QCOMPARE(widget<QPushButton>(&w, "loadButton")->styleSheet(),
                 QString("background: normal"));
        QVERIFY(!widget<QPushButton>(&w, "loadButton")->isEnabled());
        for (const char *name : {"vr1enable", "vr2enable", "vr3enable"})
            QVERIFY(!widget<QCheckBox>(&w, name)->isChecked());
        for (const char *name : {"dvsRate2", "ssRate1"})
            QCOMPARE(widget<QComboBox>(&w, name)->currentIndex(), 0);
        QCOMPARE(widget<StatusIndicator>(&w, "vinUv")->text(), QString());
        QCOMPARE(widget<QLCDNumber>(&w, "vinTelem")->value(), 0.0);
        QVERIFY(!widget<QGroupBox>(&w, "groupBox_7")->isEnabled());
        QVERIFY(!widget<QGroupBox>(&w, "groupBox_9")->isEnabled());
        QCOMPARE(widget<QSlider>(&w, "horizontalSlider_5")->value(), 61); // kept

        // With Execute on Change ticked the same changes are committed after EN low.
        MainWindow &again = powered("QM4433");
        widget<QCheckBox>(&again, "vr1enable")->setChecked(true);
        widget<QComboBox>(&again, "dvsRate2")->setCurrentIndex(9);
        bridge->clearTraffic();
        press(widget<QPushButton>(&again, "pvin_on_btn"));
        QCOMPARE(reportHeads(*bridge).first(), QString("30 01 00"));
        QCOMPARE(busWrites(*bridge),
                 (QStringList{"0d: 40 00", "0d: 0f 01", "0d: 42 00", "0d: 0f 01", "0d: 82 00",
                              "0d: 0f 01", "0d: c2 00", "0d: 0f 01", "0d: 43 00", "0d: 0f 01",
                              "0d: 83 00", "0d: 0f 01", "0d: c3 00", "0d: 0f 01"}));
        QCOMPARE(widget<QPushButton>(&again, "loadButton")->styleSheet(),
                 QString("background: normal"));
    }

    // The slots reachable only by name write page N's cache (no panel mapping,
    // no commit); load() commits. disable_vrN unchecks the box, whose own handler
    // then writes and commits.
    void slotsReachedByName() {
        MainWindow &w = powered("QM4434");
        for (int n = 1; n <= 3; ++n) {
            const QByteArray vr = QByteArray::number(n);
            QVERIFY(QMetaObject::invokeMethod(&w, "set_vr" + vr + "_enabled", Q_ARG(int, 2)));
            QVERIFY(
                QMetaObject::invokeMethod(&w, "set_vr" + vr + "_dac_target", Q_ARG(int, 100 + n)));
            QVERIFY(QMetaObject::invokeMethod(&w, "set_vr" + vr + "_dvs_rate", Q_ARG(int, 6 + n)));
            QVERIFY(QMetaObject::invokeMethod(&w, "set_vr" + vr + "_ss_rate", Q_ARG(int, 4 + n)));
            QVERIFY(QMetaObject::invokeMethod(&w, "set_vr" + vr + "_clim_rate", Q_ARG(int, n)));
        }
        QVERIFY(bridge->writes().empty());
        QVERIFY(QMetaObject::invokeMethod(&w, "load"));
        QCOMPARE(busWrites(*bridge), (QStringList{"11: 40 08 9e 15 07", "11: 80 08 9f 26 08",
                                                  "11: c0 08 a0 37 09", "11: 0f 01"}));

        widget<QCheckBox>(&w, "vr2enable")->setChecked(true);
        bridge->clearTraffic();
        QVERIFY(QMetaObject::invokeMethod(&w, "disable_vr2"));
        QVERIFY(!widget<QCheckBox>(&w, "vr2enable")->isChecked());
        QCOMPARE(busWrites(*bridge), (QStringList{"11: 80 00", "11: 0f 01"}));
    }

    void aFailedCommitStaysPendingForTheNextOne() {
        MainWindow &w = powered("QM4434");
        bridge->unplug();
        QCOMPARE(thrown([&] { widget<QSlider>(&w, "horizontalSlider_5")->setValue(100); }),
                 QString("Error during USB write: 19"));
        bridge->replug();
        press(widget<QPushButton>(&w, "loadButton"));
        QCOMPARE(busWrites(*bridge), (QStringList{"11: 41 9d", "11: 0f 01"}));
    }

    void closingSendsEnLowThenPvinOff() {
        MainWindow &w = open("QM4434");
        w.close();
        QCOMPARE(reportHeads(*bridge), (QStringList{"30 01 00", "20 01 00"}));
        QCOMPARE(panel->logRows(), (QStringList{"Setting EN low", "PVIN OFF"}));

        // Closing while polling: a tick due when the window closes (here one is
        // due at every pass of the event loop) never follows EN low and PVIN off.
        MainWindow &polling = powered("QM4434");
        panel->pollTimer()->setInterval(0);
        QCoreApplication::processEvents();
        QVERIFY(!reportHeads(*bridge).isEmpty()); // it was polling
        bridge->clearTraffic();
        polling.close();
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(reportHeads(*bridge), (QStringList{"30 01 00", "20 01 00"}));
    }

    void dialogsAndMenus() {
        MainWindow &w = powered("QM4434");
        {
            ModalWatcher watcher;
            QMetaObject::invokeMethod(&w, "saveConfigFile");
            QMetaObject::invokeMethod(&w, "aboutDialog");
            QCOMPARE(said(watcher.seen).size(), 2);
            QCOMPARE(said(watcher.seen)[0], QString("QM44xxC-DEMO: Not implemented yet"));
            QVERIFY(said(watcher.seen)[1].contains("QM44xxC Demo"));
        }
        // Open Config: cancelling does nothing; choosing a file re-reads the controls.
        widget<QLineEdit>(&w, "lineEdit_5")->setText("typed");
        {
            ModalWatcher watcher;
            QMetaObject::invokeMethod(&w, "openConfigFile");
            QCOMPARE(said(watcher.seen), QStringList{"Open Config"});
        }
        QCOMPARE(widget<QLineEdit>(&w, "lineEdit_5")->text(), QString("typed"));
        {
            QTemporaryDir dir;
            QFile file(dir.filePath("bench.cfg"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            ModalWatcher watcher([&](QWidget *dialog) {
                qobject_cast<QFileDialog *>(dialog)->setDirectory(dir.path());
                widget<QLineEdit>(dialog, "fileNameEdit")->setText("bench.cfg");
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            });
            QMetaObject::invokeMethod(&w, "openConfigFile");
        }
        QCOMPARE(widget<QLineEdit>(&w, "lineEdit_5")->text(), QString("0.751"));
        QVERIFY(bridge->writes().empty());
    }

    // An hour of polling (14,400 ticks at 4 Hz) with the whole log on, without
    // waiting for real time: every line is kept, each line costs the view one
    // inserted row, and memory grows by the stored lines only.
    void anHourOfLogging() {
        MainWindow &w = open("QM4434");
        bridge->setRecording(false);
        panel->powerOn();
        panel->telem(true);
        panel->stopPolling();       // the test ticks itself
        for (int t = 0; t < 8; ++t) // the first ticks and paint fill caches once
            w.timerLoop();
        panel->clearLog();
        QAbstractItemModel *model = panel->log();
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        long inserted = 0;
        bool oneRowEach = true;
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [&](const QModelIndex &, int first, int last) {
                    oneRowEach = oneRowEach && first == last && first == inserted;
                    ++inserted;
                });
        auto linesSent = [&] {
            return 2 * bridge->commandCount(0xF3) + bridge->commandCount(0xF1);
        };
        const long sentBefore = linesSent();
        const size_t heapBefore = mallinfo2().uordblks;
        QSlider *slider = widget<QSlider>(&w, "horizontalSlider_5");
        for (int t = 1; t <= 14400; ++t) {
            w.timerLoop();
            if (t % 1200 == 0) // every five minutes the user moves a target
                slider->setValue((slider->value() + 37) % 172);
            if (t % 2400 == 0)
                QCoreApplication::processEvents();
        }
        const long lines = linesSent() - sentBefore;
        QVERIFY(lines > 24L * 14400); // 12 exchanges a tick, two lines each, and the commits
        QCOMPARE(long(model->rowCount()), lines);
        QCOMPARE(inserted, lines);
        QVERIFY(oneRowEach);
        QCOMPARE(resets.count(), 0);
        const double perLine = double(mallinfo2().uordblks - heapBefore) / double(lines);
        QVERIFY2(perLine < 400, qPrintable(QString::number(perLine)));
        panel->clearLog(); // the lines given back: nothing else accumulated
        QVERIFY2(mallinfo2().uordblks < heapBefore + 256 * 1024,
                 qPrintable(QString::number(mallinfo2().uordblks - heapBefore)));
    }
};

QTEST_MAIN(PanelWindowTest)
#include "test_panel_window.moc"
