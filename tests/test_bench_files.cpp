// The bench menus against the simulated board: recording rows equal to
// qm44xx-ctl's, a failing disk and a removed file, settings files round-tripped
// between the panel and the tool, refused files that send nothing, the register
// view's reads, writes and refusals with their log lines; the telemetry plot,
// whose series after simulated ticks equal what the window shows with no more
// traffic, its spans and pause, the gap a power cycle leaves, its exports, and
// the thinning that keeps an hour cheap to draw.
#include "app/register_view.h"
#include "app/settings_actions.h"
#include "app/telemetry_history.h"
#include "app/telemetry_plot.h"
#include "app/telemetry_recorder.h"
#include "bench_window_support.h"
#include "ctl/ctl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <csignal>
#include <sstream>
#include <sys/resource.h>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>

namespace {
enum Curve { VIN, TEMPERATURE, VR1, VR2, VR3 };

struct ToolResult {
    int code;
    QString out;
    QString err;
};

// qm44xx-ctl in this process, on the board the window has open, on the
// window's clock.
ToolResult tool(BenchWindow &b, const QStringList &args) {
    const Clock clock = b.clock().clock();
    std::vector<std::string> arguments;
    for (const QString &a : args)
        arguments.push_back(a.toStdString());
    std::istringstream in;
    std::ostringstream out, err;
    const int code = ctl::run(arguments, in, out, err, clock);
    return {code, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
}

// The folder the last file dialog opened in.
QString dialogFolder;

// Answers a file dialog with this path.
ModalWatcher choosing(const QString &path) {
    return ModalWatcher([path](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            dialogFolder = dialog->directory().absolutePath();
            widget<QLineEdit>(dialog, "fileNameEdit")->setText(path);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else {
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        }
    });
}

QTableWidgetItem *item(QTableWidget *table, int address, int column) {
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, RegisterView::ADDRESS)->text() == QString::asprintf("0x%02x", address))
            return table->item(row, column);
    }
    return nullptr;
}

QString cell(QTableWidget *table, int address, int column) {
    QTableWidgetItem *found = item(table, address, column);
    return found ? found->text() : "(no row)";
}

} // namespace

class BenchFilesTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private Q_SLOTS:
    void initTestCase() {
        hermeticHidBus();
        // The folders and the plot's span remembered here, not in the user's file.
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        std::signal(SIGXFSZ, SIG_IGN); // a file over its size limit fails the write instead
    }

    void recordingWritesTheToolsRows() {
        BenchWindow b("QM4422");
        QLabel *mark = b.menus->recordingMark();
        QVERIFY(!b.action("actionRecordTelemetry")->isEnabled()); // no chip known yet
        QCOMPARE(b.menus->startRecording("x.csv"),
                 QString("No chip identified yet: switch the regulator on first."));
        b.pressPower();
        widget<QCheckBox>(b.window, "vr1enable")->setChecked(true);
        QTemporaryDir dir;
        const QString path = dir.filePath("run.csv");
        {
            ModalWatcher watcher = choosing(path);
            b.action("actionRecordTelemetry")->trigger();
            QCOMPARE(said(watcher.seen), QStringList{"Record telemetry"});
        }
        QVERIFY(b.menus->recorder()->recording());
        QVERIFY(mark->isVisible());
        QCOMPARE(mark->text(), QString("Recording to run.csv"));
        QVERIFY(!b.action("actionRecordTelemetry")->isEnabled());
        QVERIFY(b.action("actionStopRecording")->isEnabled());
        const QDateTime first = b.clock().now().addMSecs(250);
        b.tick(3);
        b.action("actionStopRecording")->trigger();
        QVERIFY(!mark->isVisible());
        QVERIFY(!b.action("actionStopRecording")->isEnabled());
        QVERIFY(b.action("actionRecordTelemetry")->isEnabled());
        b.tick(); // not recorded
        const QByteArray recorded = readFile(path);

        // The tool on the same board, its clock at the panel's first row.
        b.clock().set(first);
        const ToolResult r = tool(b, {"telemetry", "--csv", "--count", "3", "--interval", "250"});
        QCOMPARE(r.err, QString());
        QCOMPARE(QString::fromUtf8(recorded), r.out);
        QCOMPARE(r.out.section('\n', 1, 1),
                 QString("2026-03-02T09:30:00.750Z,1.801,28.64,0.7505,0.0000"));
    }

    void aFailingWriteStopsOnlyTheRecording() {
        BenchWindow b("QM4434");
        b.pressPower();
        QTemporaryDir dir;
        const QString path = dir.filePath("full.csv");
        QCOMPARE(b.menus->startRecording(path), QString());
        const qint64 header = QFileInfo(path).size();
        b.tick();
        const qint64 oneRow = QFileInfo(path).size() - header;

        // The disk takes one more row, then no byte.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = rlim_t(QFileInfo(path).size() + oneRow);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        b.pollTimer()->start(MainWindow::POLL_INTERVAL_MS);
        b.tick(2);
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!b.menus->recorder()->recording());
        QCOMPARE(b.menus->recorder()->rows(), 2L);
        {
            ModalWatcher watcher;
            QCoreApplication::processEvents(); // the box waits for the tick to end
            QCOMPARE(said(watcher.seen),
                     QStringList{"Record telemetry: Recording stopped: cannot write " + path +
                                 ": File too large"});
        }
        // The poll and the window go on; the file keeps its whole rows.
        QVERIFY(b.pollTimer()->isActive());
        b.pollTimer()->stop();
        QVERIFY(b.window->isVisible());
        const size_t samples = b.menus->history().size();
        b.tick();
        QCOMPARE(b.menus->history().size(), samples + 1);
        QCOMPARE(readFile(path).count('\n'), 3);
        QVERIFY(!b.menus->recordingMark()->isVisible());
        QVERIFY(b.action("actionRecordTelemetry")->isEnabled());

        // A file removed while recording ends it too.
        const QString removed = dir.filePath("removed.csv");
        QCOMPARE(b.menus->startRecording(removed), QString());
        b.tick();
        QVERIFY(QFile::remove(removed));
        b.tick();
        {
            ModalWatcher watcher;
            QCoreApplication::processEvents();
            QCOMPARE(said(watcher.seen), QStringList{"Record telemetry: Recording stopped: " +
                                                     removed + " was removed"});
        }
        QVERIFY(!b.menus->recorder()->recording());

        // A disk that takes not even the header: no recording.
        const QString none = dir.filePath("none.csv");
        limited.rlim_cur = 0;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const QString refused = b.menus->startRecording(none);
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(refused, "cannot write " + none + ": File too large");
        QVERIFY(!b.menus->recorder()->recording());
        QVERIFY(!b.menus->recordingMark()->isVisible());

        // Special files are refused at the start.
        QCOMPARE(b.menus->startRecording("/dev/full"), QString("/dev/full is not a regular file"));
        QCOMPARE(b.menus->startRecording(dir.path()), dir.path() + " is not a regular file");
        QVERIFY(!b.menus->recorder()->recording());
    }

    void panelFilesLoadInTheTool() {
        BenchWindow b("QM4434");
        MainWindow &w = *b.window;
        QVERIFY(!b.action("actionSaveSettings")->isEnabled()); // not powered
        b.pressPower();
        widget<QCheckBox>(&w, "vr1enable")->setChecked(true);
        widget<QSlider>(&w, "horizontalSlider_7")->setValue(140);
        widget<QComboBox>(&w, "dvsRate1")->setCurrentIndex(5);
        widget<QComboBox>(&w, "ssRate2")->setCurrentIndex(7);
        const QByteArray saved = pageRegisters(*b.bridge);
        QTemporaryDir dir;
        const QString path = dir.filePath("panel.cfg");
        {
            ModalWatcher watcher = choosing(path);
            b.action("actionSaveSettings")->trigger();
            QCOMPARE(said(watcher.seen), QStringList{"Save settings"}); // the dialog, no warning
        }
        const QByteArray text = readFile(path);
        QVERIFY(text.startsWith("# QM44xxC regulator settings, written by qm44xx-panel\n"));
        ToolResult r = tool(b, {"save", "-"});
        QCOMPARE(r.code, 0);
        QCOMPARE(QString::fromUtf8(text.mid(text.indexOf('\n'))), r.out.mid(r.out.indexOf('\n')));
        QVERIFY(text.contains("[VR3]\nenable = off\nvout = 1.0744\n"));

        // Changed afterwards, the chip gets the file's settings back from the tool.
        widget<QCheckBox>(&w, "vr1enable")->setChecked(false);
        widget<QSlider>(&w, "horizontalSlider_7")->setValue(3);
        QVERIFY(pageRegisters(*b.bridge) != saved);
        r = tool(b, {"load", path, "--verify"});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        QCOMPARE(pageRegisters(*b.bridge).toHex(), saved.toHex());

        // Refused targets: a special file, and a chip whose target cannot be saved.
        SettingsActions *settings = b.menus->settings();
        QCOMPARE(settings->save("/dev/null"), QString("/dev/null is not a regular file"));
        QCOMPARE(tool(b, {"reg", "set", "0x41", "0x10"}).code, 0);
        const QString unsavable = dir.filePath("unsavable.cfg");
        QCOMPARE(settings->save(unsavable),
                 unsavable + ": the target of VR1 (DAC code 16, 0.3323 V) is outside 0.5 to "
                             "1.202 V and cannot be saved");
        QVERIFY(!QFile::exists(unsavable));
    }

    void toolFilesLoadInThePanel() {
        BenchWindow b("QM4433");
        MainWindow &w = *b.window;
        b.pressPower();
        QTemporaryDir dir;
        const QString path = dir.filePath("tool.cfg");
        ToolResult r = tool(b, {"set enable 1 on; set vout 1 0.9; set ss 2 7.8; set dvs 3 492; "
                                "set enable 3 on; save " +
                                path});
        QCOMPARE(r.err, QString());
        const QByteArray saved = pageRegisters(*b.bridge);
        // The chip changed behind the panel's back; the panel's copy is stale.
        QCOMPARE(tool(b, {"set enable 1 off; set vout 1 0.6; set ss 2 0.5; set dvs 3 0.5; "
                          "set enable 3 off"})
                     .code,
                 0);

        b.bridge->clearTraffic();
        QCOMPARE(b.menus->settings()->load(path), QString());
        // One commit carries every setting of the file; showing it in the controls
        // sends nothing more.
        QCOMPARE(busWrites(*b.bridge), (QStringList{"0d: 40 08 9a 13 03", "0d: 80 00 76 24 03",
                                                    "0d: c0 08 76 13 0a", "0d: 0f 01"}));
        QCOMPARE(pageRegisters(*b.bridge).toHex(), saved.toHex());
        QVERIFY(widget<QCheckBox>(&w, "vr1enable")->isChecked());
        QVERIFY(widget<QCheckBox>(&w, "vr3enable")->isChecked());
        QCOMPARE(widget<QLineEdit>(&w, "lineEdit_5")->text(), QString("0.898"));
        QCOMPARE(widget<QComboBox>(&w, "ssRate2")->currentText(), QString("7.8"));
        QCOMPARE(widget<QComboBox>(&w, "dvsRate3")->currentText(), QString("492"));
    }

    void refusedFilesSendNothing() {
        BenchWindow b("QM4434");
        MainWindow &w = *b.window;
        b.pressPower();
        widget<QLineEdit>(&w, "lineEdit_5")->setText("typed");
        QTemporaryDir dir;
        // The reader's own words (its every refusal is a case of test_ctl).
        const QString other = dir.filePath("other.cfg"), path = dir.filePath("bad.cfg");
        QVERIFY(
            writeFile(other, "# another board\n" + QByteArray(GOOD_FILE).replace("4434", "4433")));
        QVERIFY(writeFile(path, QByteArray(GOOD_FILE).replace("vout = 0.9", "volts = 0.9")));
        SettingsActions *settings = b.menus->settings();
        b.bridge->clearTraffic();
        QCOMPARE(settings->load(other),
                 other + ": line 2: the file is for QM4433, the chip is QM4434");
        QCOMPARE(settings->load(dir.path()), dir.path() + " is not a regular file");
        QCOMPARE(settings->load(dir.filePath("none.cfg")),
                 "cannot open " + dir.filePath("none.cfg") + ": No such file or directory");

        // Through the menu: the dialog, then the warning naming the line.
        {
            ModalWatcher watcher = choosing(path);
            b.action("actionLoadSettings")->trigger();
            QCOMPARE(said(watcher.seen),
                     (QStringList{"Load settings",
                                  "Load settings: " + path + ": line 4: unknown key 'volts'"}));
        }
        // The next settings dialog opens in the folder of the last file chosen.
        dialogFolder.clear();
        {
            ModalWatcher watcher = choosing(path);
            b.action("actionLoadSettings")->trigger();
        }
        QCOMPARE(dialogFolder, QFileInfo(dir.path()).absoluteFilePath());
        QVERIFY(b.bridge->reports().empty()); // not even a read
        QCOMPARE(widget<QLineEdit>(&w, "lineEdit_5")->text(), QString("typed"));
    }

    void registerViewReadsWritesAndRefuses() {
        BenchWindow b("QM4434");
        MainWindow &w = *b.window;
        RegisterView *view = b.menus->registers();
        QTableWidget *table = view->table();
        b.pressPower();
        w.clearMsgs();
        b.action("actionRegisters")->trigger();
        QVERIFY(view->isVisible());
        QCOMPARE(table->rowCount(), 9 + 4 + 12);
        QStringList log = b.panel.logRows();
        QCOMPARE(log.size(), 2 * 25);
        QCOMPARE(log.mid(0, 2), (QStringList{"I2C Write, Addr 0x11 => [ 0x00 ]",
                                             "I2C Read,  Addr 0x11 <= [ 0x00 ]"}));
        const QStringList dac = {"0x41", "VR1 DAC", "0x76", "0111 0110", "code 118: 0.7505 V"};
        for (int column = 0; column < RegisterView::COLUMNS; ++column)
            QCOMPARE(cell(table, 0x41, column), dac[column]);
        QCOMPARE(cell(table, 0x01, RegisterView::FIELDS), QString("1.801 V"));
        QCOMPARE(cell(table, 0x13, RegisterView::FIELDS), QString("QM4434"));
        QCOMPARE(cell(table, 0x40, RegisterView::FIELDS), QString("enable off; status: none"));
        QCOMPARE(cell(table, 0xC2, RegisterView::FIELDS),
                 QString("soft-start 3.9 mV/us (code 3); current limit code 1"));

        // A write through the Write row: the model's bytes and trigger in the log,
        // then the view read again.
        w.clearMsgs();
        widget<QLineEdit>(view, "writeAddress")->setText("0x41");
        widget<QLineEdit>(view, "writeValue")->setText("0x9a");
        widget<QPushButton>(view, "write")->click();
        log = b.panel.logRows();
        QCOMPARE(log.mid(0, 2), (QStringList{"I2C Write, Addr 0x11 => [ 0x41 0x9a ]",
                                             "I2C Write, Addr 0x11 => [ 0x0f 0x01 ]"}));
        QCOMPARE(log.size(), 2 + 50);
        QCOMPARE(b.bridge->chip().activePageRegister(1, 1), uint8_t(0x9a));
        QCOMPARE(cell(table, 0x41, RegisterView::FIELDS), QString("code 154: 0.8981 V"));

        // A commit from the main window's controls: read again once it rests.
        w.clearMsgs();
        widget<QSlider>(&w, "horizontalSlider_5")->setValue(100);
        QCOMPARE(b.panel.logRows().size(), 2); // the commit alone, so far
        QVERIFY(view->rereadTimer()->isActive());
        QVERIFY(QMetaObject::invokeMethod(view->rereadTimer(), "timeout"));
        QCOMPARE(b.panel.logRows().size(), 2 + 50);
        QCOMPARE(cell(table, 0x41, RegisterView::FIELDS), QString("code 157: 0.9104 V"));

        // Edited in its cell, which only a writable register's value is; the page
        // control keeps only its enable bit.
        for (int address : {0x40, 0xC3}) {
            QVERIFY(item(table, address, RegisterView::HEX)->flags() & Qt::ItemIsEditable);
            QVERIFY(!(item(table, address, RegisterView::NAME)->flags() & Qt::ItemIsEditable));
        }
        for (int address : {0x00, 0x13})
            QVERIFY(!(item(table, address, RegisterView::HEX)->flags() & Qt::ItemIsEditable));
        w.clearMsgs();
        item(table, 0x40, RegisterView::HEX)->setText("0xff");
        QCOMPARE(b.panel.logRows().mid(0, 2),
                 (QStringList{"I2C Write, Addr 0x11 => [ 0x40 0x08 ]",
                              "I2C Write, Addr 0x11 => [ 0x0f 0x01 ]"}));
        QCOMPARE(cell(table, 0x40, RegisterView::FIELDS), QString("enable on; status: none"));
        QCOMPARE(view->writeRegister(0x0F, 0x01), QString()); // forced as it is
        QCOMPARE(busWrites(*b.bridge).last(), QString("11: 0f 01"));

        // Refused by the model: its own text, nothing sent, nothing logged.
        w.clearMsgs();
        b.bridge->clearTraffic();
        {
            ModalWatcher watcher;
            widget<QLineEdit>(view, "writeAddress")->setText("0x13");
            widget<QLineEdit>(view, "writeValue")->setText("1");
            widget<QPushButton>(view, "write")->click();
            widget<QLineEdit>(view, "writeAddress")->setText("0x100");
            widget<QPushButton>(view, "write")->click();
            QCOMPARE(said(watcher.seen),
                     (QStringList{"Registers: Attempt to write to unwriteable address: 0d19",
                                  "Registers: A register and a value are each a byte: 0x00 to "
                                  "0xff, or 0 to 255."}));
        }
        QVERIFY(b.bridge->reports().empty());
        QVERIFY(b.panel.logRows().isEmpty());

        // Powered off: no reads or writes from the view.
        b.pressPower();
        QVERIFY(!view->powered() && !widget<QPushButton>(view, "readAll")->isEnabled());
    }

    void registerRowsFollowTheChip() {
        BenchWindow b("QM4422");
        b.pressPower();
        b.action("actionRegisters")->trigger();
        QTableWidget *table = b.menus->registers()->table();
        // Page 2 (and its output telemetry 0x05) is not populated on a QM4422.
        QCOMPARE(table->rowCount(), 8 + 4 + 8);
        QCOMPARE(cell(table, 0x80, RegisterView::NAME), QString("(no row)"));
        QCOMPARE(cell(table, 0x05, RegisterView::NAME), QString("(no row)"));
        QCOMPARE(cell(table, 0xC1, RegisterView::NAME), QString("VR2 DAC"));
        QCOMPARE(cell(table, 0x07, RegisterView::NAME), QString("VR2 output"));
        QCOMPARE(cell(table, 0x04, RegisterView::NAME), QString("Not interpreted"));
        QCOMPARE(cell(table, 0x04, RegisterView::FIELDS), QString());
    }
    void seriesFollowTheTicksWithoutTraffic() {
        BenchWindow b("QM4422");
        MainWindow &w = *b.window;
        TelemetryPlot *plot = b.menus->plot();
        QVERIFY(!plot->isVisible());
        b.action("actionTelemetryPlot")->trigger();
        QVERIFY(plot->isVisible());
        QCOMPARE(plot->windowTitle(), QString("Telemetry plot"));
        b.pressPower();
        widget<QCheckBox>(&w, "vr2enable")->setChecked(true); // page 3 on a QM4422
        b.tick(10);
        QCoreApplication::processEvents(); // the plot follows when the event loop runs
        QCOMPARE(plot->shownInterval(), qMakePair(0.0, 600.0));

        // Each series holds every tick's reading, at 0.25 s steps from power-on,
        // equal to what the displays show once their means have settled.
        const struct {
            Curve curve;
            const char *display;
        } shown[] = {
            {VIN, "vinTelem"}, {TEMPERATURE, "tempTelem"}, {VR1, "vr1vout"}, {VR2, "vr2vout"}};
        for (const auto &s : shown) {
            const double display = widget<QLCDNumber>(&w, s.display)->value();
            const QVector<QVector<QPointF>> lines = plot->series(s.curve);
            QCOMPARE(lines.size(), 1);
            QCOMPARE(lines[0].size(), 10);
            for (int i = 0; i < 10; ++i)
                QCOMPARE(lines[0][i], QPointF(0.25 * (i + 1), display));
        }
        QCOMPARE(plot->series(VR1)[0][0].y(), 0.0); // off: 0, as on the display
        QCOMPARE(plot->curve(VR2)->title().text(), QString("VR2"));
        QCOMPARE(plot->curve(TEMPERATURE)->yAxis(), int(QwtPlot::yRight));
        QVERIFY(plot->curve(VR2)->isVisible());
        QVERIFY(!plot->curve(VR3)->isVisible()); // no third regulator
        QVERIFY(!plot->curve(VR3)->testItemAttribute(QwtPlotItem::Legend));
        // The scales hold what is shown: 0 V (VR1 off) to VIN, and the temperature.
        const QwtScaleDiv volts = plot->plot()->axisScaleDiv(QwtPlot::yLeft);
        QCOMPARE(volts.lowerBound(), 0.0);
        QVERIFY(volts.upperBound() > 1.801 && volts.upperBound() <= 2.0);
        const QwtScaleDiv celsius = plot->plot()->axisScaleDiv(QwtPlot::yRight);
        QVERIFY(celsius.lowerBound() < 28.64 && celsius.upperBound() > 28.64);
        QVERIFY(celsius.range() <= 5.0);

        // The same tick sends the same reports with the plot (and the register
        // view) open as without them: the plot takes the tick's own samples.
        plot->hide();
        b.bridge->clearTraffic();
        b.tick(4);
        const QStringList closed = reportHeads(*b.bridge);
        QCOMPARE(closed.size(), 4 * (5 + 4 + 2));
        b.action("actionTelemetryPlot")->trigger();
        b.action("actionRegisters")->trigger(); // reads once, on opening
        QCoreApplication::processEvents();
        b.bridge->clearTraffic();
        b.tick(4);
        QCOMPARE(reportHeads(*b.bridge), closed);
        QCOMPARE(b.menus->history().size(), size_t(18));
    }

    void spansPauseAndThePowerGap() {
        BenchWindow b("QM4422");
        TelemetryPlot *plot = b.menus->plot();
        b.action("actionTelemetryPlot")->trigger();
        b.pressPower();
        b.tick(300); // 75 s
        QCoreApplication::processEvents();
        QComboBox *span = widget<QComboBox>(plot, "span");
        QCOMPARE(span->currentText(), QString("10 min"));
        QCOMPARE(plot->shownInterval(), qMakePair(0.0, 600.0)); // fills from the left
        span->setCurrentIndex(0);
        QCOMPARE(span->currentText(), QString("1 min"));
        QCOMPARE(plot->shownInterval(), qMakePair(15.0, 75.0));
        // One sample beyond the left edge, so the line leaves the canvas.
        QCOMPARE(plot->series(VIN)[0].first().x(), 14.75);
        QCOMPARE(plot->series(VIN)[0].last().x(), 75.0);
        span->setCurrentIndex(3);
        QCOMPARE(plot->shownInterval(), qMakePair(0.0, 75.0));
        span->setCurrentIndex(0);
        // The next plot window starts with the span chosen last.
        const TelemetryHistory none;
        TelemetryPlot next(none);
        QCOMPARE(widget<QComboBox>(&next, "span")->currentText(), QString("1 min"));

        // Paused, the view stands while the samples keep coming.
        QPushButton *pause = widget<QPushButton>(plot, "pause");
        pause->click();
        b.tick(4);
        QCOMPARE(plot->shownInterval(), qMakePair(15.0, 75.0));
        QCOMPARE(b.menus->history().size(), size_t(304));
        pause->click();
        QCOMPARE(plot->shownInterval(), qMakePair(16.0, 76.0));
        b.tick();
        QCOMPARE(plot->shownInterval(), qMakePair(16.0, 76.0)); // not inside the tick
        QCoreApplication::processEvents();
        QCOMPARE(plot->shownInterval(), qMakePair(16.25, 76.25));

        // Off for ten seconds, then on: a gap, the same time axis.
        b.pressPower();
        b.clock().advance(10000);
        b.pressPower();
        b.tick(4);
        span->setCurrentIndex(3);
        const QVector<QVector<QPointF>> lines = plot->series(VIN);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].size(), 305);
        QCOMPARE(lines[0].last().x(), 76.25);
        QCOMPARE(lines[1].size(), 4);
        // 10 s off, the power-up and settling waits (0.25 s each), one tick.
        QCOMPARE(lines[1].first().x(), 87.0);
        QCOMPARE(b.menus->history().periodStarts(), (std::vector<size_t>{0, 305}));
    }

    void exportsWhatIsShown() {
        BenchWindow b("QM4422");
        TelemetryPlot *plot = b.menus->plot();
        b.action("actionTelemetryPlot")->trigger();
        b.pressPower();
        widget<QCheckBox>(b.window, "vr2enable")->setChecked(true);
        b.tick(300);
        widget<QComboBox>(plot, "span")->setCurrentIndex(0); // 15 s to 75 s
        QTemporaryDir dir;

        const QString csv = dir.filePath("shown.csv");
        QCOMPARE(plot->exportCsv(csv), QString());
        const QStringList lines = QString::fromUtf8(readFile(csv)).split('\n');
        QCOMPARE(lines.first(), QString("time,vin_v,temperature_c,vr1_v,vr2_v"));
        QCOMPARE(lines.size(), 1 + 241 + 1); // header, 15 s to 75 s inclusive, last newline
        QCOMPARE(lines[1], QString("2026-03-02T09:30:15.500Z,1.801,28.64,0.0000,0.7505"));
        QCOMPARE(lines[241], QString("2026-03-02T09:31:15.500Z,1.801,28.64,0.0000,0.7505"));
        QCOMPARE(lines.last(), QString());

        const QString png = dir.filePath("shown.png");
        QCOMPARE(plot->exportPng(png), QString());
        QCOMPARE(QImage(png).size(), plot->plot()->size());

        QCOMPARE(plot->exportCsv("/dev/null"), QString("/dev/null is not a regular file"));
        QCOMPARE(plot->exportPng(dir.path()), dir.path() + " is not a regular file");
    }

    void thinningKeepsTheExtremes() {
        TelemetryHistory h;
        const qint64 t0 = 1700000000000;
        h.startPeriod(t0);
        for (int i = 1; i <= 14400; ++i) {
            const double v = i == 7001 ? 2.5 : i == 9001 ? 0.1 : 1.8 + 0.001 * (i % 3);
            h.append(t0 + 250 * i, {v, 25.0, 0.0, 0.0, 0.0});
        }
        QCOMPARE(h.lowerBound(0.3), size_t(1));
        QCOMPARE(h.range(TelemetryHistory::VIN, 0, h.size()), std::make_pair(0.1, 2.5));
        // Stretches shorter than a block, the extreme neither first nor aligned.
        QCOMPARE(h.range(TelemetryHistory::VIN, 6995, 7003).second, 2.5);
        QCOMPARE(h.range(TelemetryHistory::VIN, 8997, 9001).first, 0.1);

        QVector<QPointF> points;
        h.thinned(TelemetryHistory::VIN, 0, h.size(), 800, points);
        // Blocks of 32 samples: 450 of them, two points each at most.
        QVERIFY2(points.size() >= 450 && points.size() <= 2 * 450 + 2,
                 qPrintable(QString::number(points.size())));
        bool spike = false, dip = false, ascending = true;
        for (int i = 0; i < points.size(); ++i) {
            spike = spike || points[i] == QPointF(1750.25, 2.5);
            dip = dip || points[i] == QPointF(2250.25, 0.1);
            ascending = ascending && (i == 0 || points[i].x() > points[i - 1].x());
        }
        QVERIFY(spike && dip && ascending);
        QCOMPARE(points.first(), QPointF(0.25, 1.801)); // both ends, whatever their values
        QCOMPARE(points.last(), QPointF(3600.0, 1.8));

        // Few samples: every one of them.
        h.thinned(TelemetryHistory::VIN, 100, 110, 800, points);
        QCOMPARE(points.size(), 10);
        QCOMPARE(points[0], QPointF(25.25, 1.8 + 0.001 * (101 % 3)));
    }

    // The plot after three simulated minutes with VR1 stepped three times, as the
    // README shows it (written to QM44XX_PLOT_SCREENSHOT when set, else into the
    // build tree).
    void screenshotOfThePlot() {
        BenchWindow b("QM4434");
        TelemetryPlot *plot = b.menus->plot();
        b.action("actionTelemetryPlot")->trigger();
        b.pressPower();
        MainWindow &w = *b.window;
        widget<QCheckBox>(&w, "vr1enable")->setChecked(true);
        b.tick(120);
        widget<QCheckBox>(&w, "vr3enable")->setChecked(true);
        QSlider *slider = widget<QSlider>(&w, "horizontalSlider_5");
        for (int position : {100, 150, 40}) {
            b.tick(160);
            slider->setValue(position);
        }
        b.tick(160);
        widget<QComboBox>(plot, "span")->setCurrentIndex(3);
        QCOMPARE(plot->shownInterval(), qMakePair(0.0, 190.0));
        QCoreApplication::processEvents();
        // Each curve drawn is there in its own colour.
        const QImage image = plot->grab().toImage();
        for (Curve c : {VIN, TEMPERATURE, VR1, VR3}) {
            const QRgb colour = plot->curve(c)->pen().color().rgb();
            long pixels = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x)
                    pixels += image.pixel(x, y) == colour;
            }
            QVERIFY2(pixels > 100, qPrintable(plot->curve(c)->title().text()));
        }
        const QString path = qEnvironmentVariableIsSet("QM44XX_PLOT_SCREENSHOT")
                                 ? qEnvironmentVariable("QM44XX_PLOT_SCREENSHOT")
                                 : QDir::current().filePath("plot.png");
        QVERIFY(plot->grab().save(path));
    }
};

QTEST_MAIN(BenchFilesTest)
#include "test_bench_files.moc"
