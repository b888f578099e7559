// The bench menus' files and registers against the simulated board: recording
// rows equal to qm44xx-ctl's, a failing disk and a removed file, settings files
// round-tripped between the panel and the tool, refused files that send
// nothing, and the register view's reads, writes and refusals with their log
// lines.
#include "app/register_view.h"
#include "app/settings_actions.h"
#include "app/telemetry_recorder.h"
#include "bench_window_support.h"
#include "ctl/ctl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <csignal>
#include <sstream>
#include <sys/resource.h>

namespace {

struct ToolResult {
    int code;
    QString out;
    QString err;
};

// qm44xx-ctl in this process, on the board the window has open, on the
// window's clock.
ToolResult tool(BenchWindow &b, const QStringList &args) {
    Clock clock;
    clock.now = [&b] { return b.now; };
    clock.sleep = [&b](long ms) { b.now = b.now.addMSecs(ms); };
    std::vector<std::string> arguments;
    for (const QString &a : args)
        arguments.push_back(a.toStdString());
    std::istringstream in;
    std::ostringstream out, err;
    const int code = ctl::run(arguments, in, out, err, clock);
    return {code, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void writeFile(const QString &path, const QByteArray &text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray pageRegisters(SimulatedBridge &bridge) {
    QByteArray bytes;
    for (int page = 1; page <= 3; ++page) {
        for (int offset = 0; offset < 4; ++offset)
            bytes += char(bridge.chip().activePageRegister(page, offset));
    }
    return bytes;
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
        QVERIFY(settingsDir.isValid()); // the folders remembered here, not in the user's file
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
        widget<QCheckBox>(b.window.get(), "vr1enable")->setChecked(true);
        QTemporaryDir dir;
        const QString path = dir.filePath("run.csv");
        {
            ModalWatcher watcher = choosing(path);
            b.action("actionRecordTelemetry")->trigger();
            QCOMPARE(watcher.seen.size(), 1);
            QCOMPARE(watcher.seen[0].title, QString("Record telemetry"));
        }
        QVERIFY(b.menus->recorder()->recording());
        QVERIFY(mark->isVisible());
        QCOMPARE(mark->text(), QString("Recording to run.csv"));
        QVERIFY(!b.action("actionRecordTelemetry")->isEnabled());
        QVERIFY(b.action("actionStopRecording")->isEnabled());
        const QDateTime first = b.now.addMSecs(250);
        b.tick(3);
        b.action("actionStopRecording")->trigger();
        QVERIFY(!mark->isVisible());
        QVERIFY(!b.action("actionStopRecording")->isEnabled());
        QVERIFY(b.action("actionRecordTelemetry")->isEnabled());
        b.tick(); // not recorded
        const QByteArray recorded = readAll(path);

        // The tool on the same board, its clock at the panel's first row.
        b.now = first;
        const ToolResult r = tool(b, {"telemetry", "--csv", "--count", "3", "--interval", "250"});
        QCOMPARE(r.err, QString());
        QCOMPARE(QString::fromUtf8(recorded), r.out);
        QCOMPARE(r.out.section('\n', 1, 1),
                 QString("2026-03-02T09:30:00.500Z,1.801,28.64,0.7505,0.0000"));
        QCOMPARE(r.out.count('\n'), 4);
    }

    void aFailingWriteStopsOnlyTheRecording() {
        BenchWindow b("QM4434");
        b.pressPower();
        QTemporaryDir dir;
        const QString path = dir.filePath("full.csv");
        QCOMPARE(b.menus->startRecording(path), QString());
        b.tick();
        const qint64 oneRow =
            QFileInfo(path).size() - qint64(strlen("time,vin_v,temperature_c,vr1_v,vr2_v,"
                                                   "vr3_v\n"));
        QCOMPARE(oneRow, qint64(strlen("2026-03-02T09:30:00.500Z,1.801,25.52,0.0000,0.0000,"
                                       "0.0000\n")));

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
            QCOMPARE(watcher.seen.size(), 1);
            QCOMPARE(watcher.seen[0].title, QString("Record telemetry"));
            QCOMPARE(watcher.seen[0].text,
                     "Recording stopped: cannot write " + path + ": File too large");
        }
        // The poll and the window go on; the file keeps its whole rows.
        QVERIFY(b.pollTimer()->isActive());
        b.pollTimer()->stop();
        QVERIFY(b.window->isVisible());
        const size_t samples = b.menus->history().size();
        b.tick();
        QCOMPARE(b.menus->history().size(), samples + 1);
        QCOMPARE(readAll(path).count('\n'), 3);
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
            QCOMPARE(watcher.seen.size(), 1);
            QCOMPARE(watcher.seen[0].text, "Recording stopped: " + removed + " was removed");
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
            QCOMPARE(watcher.seen.size(), 1); // the dialog, no warning
            QCOMPARE(watcher.seen[0].title, QString("Save settings"));
        }
        const QByteArray text = readAll(path);
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
        const QByteArray good = "chip = QM4434\n"
                                "[VR1]\nenable = on\nvout = 0.9\ndvs = 3.9\nss = 3.9\n"
                                "[VR2]\nenable = off\nvout = 0.75\ndvs = 1.0\nss = 2\n"
                                "[VR3]\nenable = on\nvout = 1.2\ndvs = 15744\nss = 15\n";
        struct Case {
            QByteArray text;
            QString message;
        };
        const QList<Case> cases = {
            {"# another board\n" + QByteArray(good).replace("QM4434", "QM4433"),
             "line 2: the file is for QM4433, the chip is QM4434"},
            {QByteArray(good).replace("vout = 0.9", "volts = 0.9"), "line 4: unknown key 'volts'"},
            {QByteArray(good).replace("vout = 1.2", "vout = 1.3"),
             "line 14: vout: 1.3 V is outside the range 0.5 to 1.202 V"},
            {QByteArray(good).replace("ss = 2\n", ""), "[VR2]: missing key 'ss'"},
        };
        SettingsActions *settings = b.menus->settings();
        b.bridge->clearTraffic();
        for (int i = 0; i < cases.size(); ++i) {
            const QString path = dir.filePath(QString("bad%1.cfg").arg(i));
            writeFile(path, cases[i].text);
            QCOMPARE(settings->load(path), path + ": " + cases[i].message);
        }
        QCOMPARE(settings->load(dir.path()), dir.path() + " is not a regular file");
        QCOMPARE(settings->load(dir.filePath("none.cfg")),
                 "cannot open " + dir.filePath("none.cfg") + ": No such file or directory");

        // Through the menu: the dialog, then the warning naming the line.
        const QString path = dir.filePath("bad1.cfg");
        {
            ModalWatcher watcher = choosing(path);
            b.action("actionLoadSettings")->trigger();
            QCOMPARE(watcher.seen.size(), 2);
            QCOMPARE(watcher.seen[1].title, QString("Load settings"));
            QCOMPARE(watcher.seen[1].text, path + ": line 4: unknown key 'volts'");
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
        QStringList log = logRows(w);
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
        log = logRows(w);
        QCOMPARE(log.mid(0, 2), (QStringList{"I2C Write, Addr 0x11 => [ 0x41 0x9a ]",
                                             "I2C Write, Addr 0x11 => [ 0x0f 0x01 ]"}));
        QCOMPARE(log.size(), 2 + 50);
        QCOMPARE(b.bridge->chip().activePageRegister(1, 1), uint8_t(0x9a));
        QCOMPARE(cell(table, 0x41, RegisterView::FIELDS), QString("code 154: 0.8981 V"));

        // A commit from the main window's controls: read again once it rests.
        w.clearMsgs();
        widget<QSlider>(&w, "horizontalSlider_5")->setValue(100);
        QCOMPARE(logRows(w).size(), 2); // the commit alone, so far
        QVERIFY(view->rereadTimer()->isActive());
        QVERIFY(QMetaObject::invokeMethod(view->rereadTimer(), "timeout"));
        QCOMPARE(logRows(w).size(), 2 + 50);
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
        QCOMPARE(logRows(w).mid(0, 2), (QStringList{"I2C Write, Addr 0x11 => [ 0x40 0x08 ]",
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
            QCOMPARE(watcher.seen.size(), 2);
            QCOMPARE(watcher.seen[0].title, QString("Registers"));
            QCOMPARE(watcher.seen[0].text,
                     QString("Attempt to write to unwriteable address: 0d19"));
            QCOMPARE(watcher.seen[1].text,
                     QString("A register and a value are each a byte: 0x00 to 0xff, or 0 to 255."));
        }
        QVERIFY(b.bridge->reports().empty());
        QVERIFY(logRows(w).isEmpty());
        QCOMPARE(view->writeRegister(0x01, 0x00),
                 QString("Attempt to write to unwriteable address: 0d1"));

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
};

QTEST_MAIN(BenchFilesTest)
#include "test_bench_files.moc"
