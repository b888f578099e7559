// What a day at the bench needs beside the main window, attached to it through
// menu entries of its own: File > Record telemetry..., Stop recording, Save
// settings..., Load settings...; View > Telemetry plot, Registers. The window
// itself stays as it is: these windows listen to its polling tick and power
// signals and use its board; the tick's samples are kept for the plot and the
// recording with the time of the clock given here.
#pragma once

#include "app/telemetry_history.h"
#include "link/clock.h"

#include <QObject>

class MainWindow;
class QAction;
class QLabel;
class RegisterView;
class SettingsActions;
class TelemetryPlot;
class TelemetryRecorder;

class BenchMenus : public QObject {
    Q_OBJECT
public:
    // Adds the entries to the window's menus; owned by the window.
    explicit BenchMenus(MainWindow *window, const Clock &clock = systemClock());

    const TelemetryHistory &history() const { return samples; }
    TelemetryPlot *plot() const { return plotWindow; }
    TelemetryRecorder *recorder() const { return recording; }
    RegisterView *registers() const { return registerWindow; }
    SettingsActions *settings() const { return settingsFiles; }
    // The mark shown in the menu bar while recording.
    QLabel *recordingMark() const { return mark; }

    // Starts recording to a file (File > Record telemetry... without the
    // dialog); "" or why not.
    QString startRecording(const QString &path);

private:
    void sampled(double vin, double temperature, double vout1, double vout2, double vout3);
    void powerChanged(bool powered);
    void askRecord();
    void recordingFailed(const QString &reason);
    void showRecording(bool on);
    void showWindow(QWidget *w);
    QAction *addAction(const QString &name, const QString &text);

    MainWindow *window;
    Clock clock;
    TelemetryHistory samples;
    TelemetryPlot *plotWindow = nullptr;
    TelemetryRecorder *recording = nullptr;
    RegisterView *registerWindow = nullptr;
    SettingsActions *settingsFiles = nullptr;
    QLabel *mark = nullptr;
    QAction *record = nullptr;
    QAction *stopRecord = nullptr;
    QAction *saveSettings = nullptr;
    QAction *loadSettings = nullptr;
    int regulators = 0; // of the chip last identified; 0 before the first power-on
};
