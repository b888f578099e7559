// The telemetry plot against the simulated board: its series after simulated
// ticks equal what the window shows, the bridge sees no more traffic with it
// open, the spans and the pause, the gap a power cycle leaves, the exports, and
// the thinning that keeps an hour cheap to draw.
#include "app/telemetry_history.h"
#include "app/telemetry_plot.h"
#include "bench_window_support.h"
#include "device/conversions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLCDNumber>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>

namespace {
enum Curve { VIN, TEMPERATURE, VR1, VR2, VR3 };

QStringList readLines(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n');
}
} // namespace

class TelemetryPlotTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private Q_SLOTS:
    void initTestCase() {
        hermeticHidBus();
        QVERIFY(settingsDir.isValid()); // the span remembered here, not in the user's file
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
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
        QCOMPARE(plot->series(VIN)[0][0].y(), conv::vinFromCode(179));
        QCOMPARE(plot->series(VR2)[0][0].y(), conv::voutFromCode(118));
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
        b.now = b.now.addSecs(10);
        b.pressPower();
        b.tick(4);
        span->setCurrentIndex(3);
        const QVector<QVector<QPointF>> lines = plot->series(VIN);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].size(), 305);
        QCOMPARE(lines[0].last().x(), 76.25);
        QCOMPARE(lines[1].size(), 4);
        QCOMPARE(lines[1].first().x(), 86.75); // 10 s off, 0.25 s power-up, one tick
        QCOMPARE(b.menus->history().periodStarts(), (std::vector<size_t>{0, 305}));
    }

    void exportsWhatIsShown() {
        BenchWindow b("QM4422");
        TelemetryPlot *plot = b.menus->plot();
        b.action("actionTelemetryPlot")->trigger();
        b.pressPower();
        widget<QCheckBox>(b.window.get(), "vr2enable")->setChecked(true);
        b.tick(300);
        widget<QComboBox>(plot, "span")->setCurrentIndex(0); // 15 s to 75 s
        QTemporaryDir dir;

        const QString csv = dir.filePath("shown.csv");
        QCOMPARE(plot->exportCsv(csv), QString());
        const QStringList lines = readLines(csv);
        QCOMPARE(lines.first(), QString("time,vin_v,temperature_c,vr1_v,vr2_v"));
        QCOMPARE(lines.size(), 1 + 241 + 1); // header, 15 s to 75 s inclusive, last newline
        QCOMPARE(lines[1], QString("2026-03-02T09:30:15.250Z,1.801,28.64,0.0000,0.7505"));
        QCOMPARE(lines[241], QString("2026-03-02T09:31:15.250Z,1.801,28.64,0.0000,0.7505"));
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

QTEST_MAIN(TelemetryPlotTest)
#include "test_telemetry_plot.moc"
