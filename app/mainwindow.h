// The panel's one window: builds the form, opens the board, and turns timer
// ticks and user actions into operations on the regulator's device model.
#pragma once

#include "device/chip_table.h"
#include "link/clock.h"

#include <QMainWindow>
#include <array>

class IvrDevice;
class MotherBoard;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLCDNumber;
class QLineEdit;
class QSlider;
class QStringListModel;
class QTimer;
class StatusIndicator;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Opens the board; throws its text (std::string) when it cannot.
    explicit MainWindow(QWidget *parent = nullptr);
    // The same on the bridge at devicePath ("" : the first bridge found).
    explicit MainWindow(const std::string &devicePath, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The polling interval and the power-on settling wait.
    static constexpr int POLL_INTERVAL_MS = 250;
    static constexpr int SETTLE_MS = 250;

    // The clock whose sleep makes the window's waits and the board's (the
    // system's by default; tests hand in one that does not wait).
    void setClock(const Clock &clock);

    // For the windows that the bench menus add beside this one.
    MotherBoard *motherBoard() const { return board; }
    IvrDevice *ivrDevice() const { return device; }

Q_SIGNALS:
    // One polling tick's readings: VIN, die temperature and the output voltages
    // of pages 1 to 3, as read (the displays show their means).
    void telemetryRead(double vin, double temperature, double vout1, double vout2, double vout3);
    // The power button's sequence has run: the chip identified and polling
    // started (true), or polling stopped and EN low (false).
    void powerChanged(bool powered);

public Q_SLOTS:
    void timerLoop();
    void syncUI();
    void enableLog(bool enable);
    void addMsg(QString msg);
    void clearMsgs();
    void aboutDialog();
    void enableTrio(bool enable);

    void set_vr1_enabled(int value);
    void set_vr2_enabled(int value);
    void set_vr3_enabled(int value);
    void set_vr1_dac_target(int value);
    void set_vr2_dac_target(int value);
    void set_vr3_dac_target(int value);
    void set_vr1_dvs_rate(int value);
    void set_vr2_dvs_rate(int value);
    void set_vr3_dvs_rate(int value);
    void set_vr1_ss_rate(int value);
    void set_vr2_ss_rate(int value);
    void set_vr3_ss_rate(int value);
    void set_vr1_clim_rate(int value);
    void set_vr2_clim_rate(int value);
    void set_vr3_clim_rate(int value);
    void load();
    double get_vin_telemetry();
    double get_temp_telemetry();
    double get_vout1_telemetry();
    double get_vout2_telemetry();
    double get_vout3_telemetry();
    int get_core_status();
    int get_vr1_status();
    int get_vr2_status();
    int get_vr3_status();

    void enable_vr1_ctrl(int enable);
    void enable_vr2_ctrl(int enable);
    void enable_vr3_ctrl(int enable);
    void set_vr1_display(quint8 data);
    void set_vr2_display(quint8 data);
    void set_vr3_display(quint8 data);
    void disable_vr1();
    void disable_vr2();
    void disable_vr3();

    void openConfigFile();
    void saveConfigFile();
    void saveHexFile();

    double check_pvin_bound(double input);
    double check_vout_bound(double input);
    double check_dcload_bound(int vr, double input);

private Q_SLOTS:
    void on_vr1enable_stateChanged(int arg1);
    void on_vr2enable_stateChanged(int arg1);
    void on_vr3enable_stateChanged(int arg1);
    void on_loadButton_clicked();
    void on_dvsRate1_currentIndexChanged(int index);
    void on_dvsRate2_currentIndexChanged(int index);
    void on_dvsRate3_currentIndexChanged(int index);
    void on_ssRate1_currentIndexChanged(int index);
    void on_ssRate2_currentIndexChanged(int index);
    void on_ssRate3_currentIndexChanged(int index);
    void on_pvin_on_btn_clicked();
    void on_horizontalSlider_5_valueChanged(int value);
    void on_horizontalSlider_6_valueChanged(int value);
    void on_horizontalSlider_7_valueChanged(int value);
    void on_lineEdit_5_returnPressed();
    void on_lineEdit_6_returnPressed();
    void on_lineEdit_7_returnPressed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The widgets of one regulator panel (1 to 3).
    struct Panel {
        QGroupBox *group;
        QCheckBox *enable;
        QLineEdit *target;
        QSlider *slider;
        QComboBox *dvs;
        QComboBox *ss;
        QLCDNumber *vout;
        StatusIndicator *ov;
        StatusIndicator *uv;
        StatusIndicator *sc;
    };
    Panel panel(int n) const;
    // The register page a panel addresses: panel 2 of a two-regulator chip
    // drives page 3.
    int pageOf(int panel) const;
    void executeOnChange();
    void enableChanged(int panel, int state);
    void dvsChanged(int panel, int index);
    void ssChanged(int panel, int index);
    void sliderMoved(int panel, int value);
    void targetEntered(int panel);
    void enablePanel(int panel, int enable);
    void showPanelStatus(int panel, quint8 data);
    void powerOn();
    void powerOff();

    Ui::MainWindow *ui;
    Clock clock = systemClock();
    MotherBoard *board = nullptr;
    IvrDevice *device = nullptr;
    QStringListModel *logModel = nullptr;
    QTimer *pollTimer = nullptr;
    bool logEnabled = true;
    std::array<std::array<double, 8>, 5> telemetryHistory{};
    int historyIndex = 0;

    ChipDescriptor activeChip;
    quint8 regulatorCount = 0;
    bool pvinOn = false;
    std::array<int, 3> lastDvsIndex{};
    std::array<int, 3> lastSsIndex{};
};
