#include "app/bench_menus.h"

#include "app/file_choice.h"
#include "app/mainwindow.h"
#include "app/register_view.h"
#include "app/settings_actions.h"
#include "app/telemetry_plot.h"
#include "app/telemetry_recorder.h"
#include "device/ivr_device.h"
#include "device/register_map.h"
#include "device/regulator.h"
#include "link/motherboard.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

namespace {
const QString RECORD_TITLE = QStringLiteral("Record telemetry");
} // namespace

BenchMenus::BenchMenus(MainWindow *window, const Clock &clock)
    : QObject(window), window(window), clock(clock) {
    setObjectName(QStringLiteral("benchMenus"));
    plotWindow = new TelemetryPlot(samples, window);
    recording = new TelemetryRecorder(this);
    registerWindow = new RegisterView(window);
    settingsFiles = new SettingsActions(window);

    // File: the new entries above Exit, which stays last.
    QMenu *file = window->findChild<QMenu *>(QStringLiteral("menuFile"));
    QAction *exit = window->findChild<QAction *>(QStringLiteral("actionExit"));
    record = addAction(QStringLiteral("actionRecordTelemetry"), tr("Record telemetry..."));
    stopRecord = addAction(QStringLiteral("actionStopRecording"), tr("Stop recording"));
    saveSettings = addAction(QStringLiteral("actionSaveSettings"), tr("Save settings..."));
    loadSettings = addAction(QStringLiteral("actionLoadSettings"), tr("Load settings..."));
    file->insertActions(exit, {record, stopRecord});
    file->insertSeparator(exit);
    file->insertActions(exit, {saveSettings, loadSettings});
    file->insertSeparator(exit);

    // View, between File and Help.
    QMenu *help = window->findChild<QMenu *>(QStringLiteral("menuHelp"));
    auto *view = new QMenu(tr("View"), window->menuBar());
    view->setObjectName(QStringLiteral("menuView"));
    window->menuBar()->insertMenu(help->menuAction(), view);
    QAction *plotEntry = addAction(QStringLiteral("actionTelemetryPlot"), tr("Telemetry plot"));
    QAction *registerEntry = addAction(QStringLiteral("actionRegisters"), tr("Registers"));
    view->addActions({plotEntry, registerEntry});

    // The mark while recording sits in the menu bar: the central window keeps
    // its layout.
    mark = new QLabel(window->menuBar());
    mark->setObjectName(QStringLiteral("recordingMark"));
    mark->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold; padding: 0 8px;"));
    window->menuBar()->setCornerWidget(mark, Qt::TopRightCorner);
    showRecording(false);
    saveSettings->setEnabled(false);
    loadSettings->setEnabled(false);

    connect(record, &QAction::triggered, this, &BenchMenus::askRecord);
    connect(stopRecord, &QAction::triggered, recording, &TelemetryRecorder::stop);
    connect(recording, &TelemetryRecorder::stopped, this, [this] { showRecording(false); });
    // The box waits for the event loop: the tick that failed finishes first.
    connect(recording, &TelemetryRecorder::failed, this, &BenchMenus::recordingFailed,
            Qt::QueuedConnection);
    connect(saveSettings, &QAction::triggered, settingsFiles, &SettingsActions::askSave);
    connect(loadSettings, &QAction::triggered, settingsFiles, &SettingsActions::askLoad);
    connect(settingsFiles, &SettingsActions::loaded, registerWindow, [this] {
        if (registerWindow->isVisible())
            registerWindow->readAll();
    });
    // Every commit ends with the update trigger, whoever made it: it tells the
    // register view to read again.
    connect(window->motherBoard(), &MotherBoard::written, registerWindow,
            [this](quint16, const QByteArray &data) {
                if (data.size() == 2 && uint8_t(data[0]) == reg::UPDATE_TRIGGER &&
                    uint8_t(data[1]) == reg::UPDATE_VALUE)
                    registerWindow->chipChanged();
            });
    connect(plotEntry, &QAction::triggered, this, [this] { showWindow(plotWindow); });
    connect(registerEntry, &QAction::triggered, this, [this] {
        showWindow(registerWindow);
        registerWindow->readAll();
    });
    connect(window, &MainWindow::telemetryRead, this, &BenchMenus::sampled);
    connect(window, &MainWindow::powerChanged, this, &BenchMenus::powerChanged);
}

QAction *BenchMenus::addAction(const QString &name, const QString &text) {
    auto *action = new QAction(text, window);
    action->setObjectName(name);
    return action;
}

void BenchMenus::showWindow(QWidget *w) {
    w->show();
    w->raise();
    w->activateWindow();
}

void BenchMenus::powerChanged(bool on) {
    if (on) {
        regulators = window->ivrDevice()->regulator_count;
        samples.startPeriod(clock.now().toMSecsSinceEpoch());
        plotWindow->setRegulatorCount(regulators);
        registerWindow->setChip(regulators);
    }
    registerWindow->setPowered(on);
    saveSettings->setEnabled(on);
    loadSettings->setEnabled(on);
    showRecording(recording->recording());
}

void BenchMenus::sampled(double vin, double temperature, double vout1, double vout2, double vout3) {
    const QDateTime now = clock.now();
    // Outputs as the displays show them: an output that is off reads 0 V.
    samples.append(now.toMSecsSinceEpoch(),
                   {vin, temperature, regulator::shownVout(vout1), regulator::shownVout(vout2),
                    regulator::shownVout(vout3)});
    if (recording->recording())
        recording->write(samples.sample(samples.size() - 1, regulators));
    plotWindow->sampleAdded();
}

QString BenchMenus::startRecording(const QString &path) {
    if (regulators == 0)
        return tr("No chip identified yet: switch the regulator on first.");
    const QString problem = recording->start(path, regulators);
    showRecording(recording->recording());
    return problem;
}

void BenchMenus::askRecord() {
    chooseFile(window, FileChoice::Save, RECORD_TITLE, tr("CSV files (*.csv);;All files (*)"),
               QStringLiteral("recording"),
               [this](const QString &path) { return startRecording(path); });
}

void BenchMenus::recordingFailed(const QString &reason) {
    QMessageBox::warning(window, RECORD_TITLE, tr("Recording stopped: %1").arg(reason));
}

void BenchMenus::showRecording(bool on) {
    mark->setText(on ? tr("Recording to %1").arg(QFileInfo(recording->path()).fileName())
                     : QString());
    mark->setToolTip(on ? recording->path() : QString());
    mark->setVisible(on);
    record->setEnabled(!on && regulators > 0);
    stopRecord->setEnabled(on);
}
