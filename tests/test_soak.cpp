// An hour of polling (14,400 ticks at 4 Hz) with Active and Telem on and a user
// change every few minutes, run without waiting for real time: every line is
// kept, each line costs the view one inserted row, and memory grows only by the
// stored lines.
#include "app/mainwindow.h"
#include "tests/support/simulated_panel.h"
#include "window_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListView>
#include <QSignalSpy>
#include <QSlider>
#include <QToolButton>
#include <QtTest>
#include <malloc.h>

namespace {
size_t heapInUse() {
    return mallinfo2().uordblks;
}
} // namespace

class SoakTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { hermeticHidBus(); }

    void anHourOfLogging() {
        auto panel = std::make_unique<SimulatedPanel>("QM4434");
        SimulatedBridge &bridge = panel->bridge();
        MainWindow &w = panel->window();
        bridge.setRecording(false);
        panel->powerOn();
        QTest::mouseClick(widget<QToolButton>(&w, "telemButton"), Qt::LeftButton);
        panel->stopPolling(); // the test ticks the clock itself
        // Warm up: the first ticks and the first paint fill caches once.
        for (int t = 0; t < 8; ++t)
            QVERIFY(QMetaObject::invokeMethod(&w, "timerLoop"));
        QCoreApplication::processEvents();
        QTest::mousePress(widget<QToolButton>(&w, "clearButton"), Qt::LeftButton);
        QCoreApplication::processEvents();
        QAbstractItemModel *model = widget<QListView>(&w, "listView")->model();
        QCOMPARE(model->rowCount(), 0);

        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        long inserted = 0;
        bool oneRowEach = true;
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [&](const QModelIndex &, int first, int last) {
                    oneRowEach = oneRowEach && first == last && first == inserted;
                    ++inserted;
                });

        auto linesSent = [&] { return 2 * bridge.commandCount(0xF3) + bridge.commandCount(0xF1); };
        const long sentBefore = linesSent();
        const size_t heapBefore = heapInUse();
        QSlider *slider = widget<QSlider>(&w, "horizontalSlider_5");
        QComboBox *dvs = widget<QComboBox>(&w, "dvsRate2");
        QCheckBox *enable = widget<QCheckBox>(&w, "vr3enable");
        const int ticks = 14400;
        for (int t = 1; t <= ticks; ++t) {
            QVERIFY(QMetaObject::invokeMethod(&w, "timerLoop"));
            if (t % 1200 == 0) { // every five minutes, the user changes something
                slider->setValue((slider->value() + 37) % 172);
                dvs->setCurrentIndex((dvs->currentIndex() + 5) % 16);
                enable->setChecked(!enable->isChecked());
            }
            if (t % 2400 == 0)
                QCoreApplication::processEvents();
        }
        const size_t heapAfter = heapInUse();
        const long lines = linesSent() - sentBefore;

        // 12 exchanges a tick (five telemetry, four core status, three pages),
        // two lines each, plus the users' changes.
        QVERIFY(lines > 24L * ticks);
        QCOMPARE(long(model->rowCount()), lines);
        QCOMPARE(inserted, lines);
        QVERIFY(oneRowEach);
        QCOMPARE(resets.count(), 0);
        const QRegularExpression line(
            "^I2C (Write, Addr 0x11 => |Read,  Addr 0x11 <= )\\[ (0x[0-9a-f]{2} )*\\]$");
        for (int r = 0; r < model->rowCount(); r += 997)
            QVERIFY2(line.match(model->index(r, 0).data().toString()).hasMatch(),
                     qPrintable(QString::number(r)));
        // The session ended with a user change: its commit's trigger is the last line.
        QCOMPARE(model->index(model->rowCount() - 1, 0).data().toString(),
                 QString("I2C Write, Addr 0x11 => [ 0x0f 0x01 ]"));

        const double perLine = double(heapAfter - heapBefore) / double(lines);
        qInfo("heap growth: %.0f bytes per stored line over %ld lines", perLine, lines);
        QVERIFY2(perLine < 400, qPrintable(QString::number(perLine)));

        // Clearing gives the lines back: nothing else accumulated.
        QTest::mousePress(widget<QToolButton>(&w, "clearButton"), Qt::LeftButton);
        QCoreApplication::processEvents(); // the view lays out its emptied model
        QVERIFY2(heapInUse() < heapBefore + 256 * 1024,
                 qPrintable(QString::number(heapInUse() - heapBefore)));
        panel.reset();
    }
};

QTEST_MAIN(SoakTest)
#include "test_soak.moc"
