// The regulator controls: power button and sequences, enable boxes, target
// sliders and entries, rate selectors, Execute, and the forwarding slots.
#include "app/mainwindow.h"

#include "app/target_entry.h"
#include "device/ivr_device.h"
#include "device/regulator.h"
#include "device/settings.h"
#include "link/motherboard.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QTimer>
#include <algorithm>

namespace {
const QString PENDING_MARK = QStringLiteral("background: red");
const QString NO_MARK = QStringLiteral("background: normal");
} // namespace

void MainWindow::executeOnChange() {
    if (ui->autoExecCB->isChecked())
        device->commit();
    else
        ui->loadButton->setStyleSheet(PENDING_MARK);
}

void MainWindow::on_pvin_on_btn_clicked() {
    pvinOn = !pvinOn;
    ui->label_3->setText(pvinOn ? QStringLiteral("Enabled") : QStringLiteral("Disabled"));
    ui->label_3->setStyleSheet(pvinOn ? QStringLiteral("font-weight: bold; color:green;")
                                      : QStringLiteral("color:black;"));
    enableTrio(pvinOn);
}

void MainWindow::enableTrio(bool enable) {
    if (enable)
        powerOn();
    else
        powerOff();
}

void MainWindow::powerOn() {
    activeChip = board->setEN(true);
    regulatorCount = activeChip.regulator_count;
    if (regulatorCount == 0) {
        QMessageBox::critical(nullptr, QStringLiteral("QM44xxC-DEMO"),
                              QStringLiteral("IVR not powered."), QMessageBox::Ok);
        // Nothing answered: the window closes (EN low, PVIN off) and nothing
        // more is sent; the fallback chip's address is the general call.
        close();
        return;
    }
    ui->loadButton->setEnabled(true);
    ui->autoExecCB->setEnabled(true);
    if (regulatorCount <= 3) {
        for (int n = 1; n <= regulatorCount; ++n)
            enablePanel(n, 1);
    }
    clock.sleep(SETTLE_MS);
    syncUI();
    pollTimer->start(POLL_INTERVAL_MS);
    Q_EMIT powerChanged(true);
}

void MainWindow::powerOff() {
    pollTimer->stop();
    board->setEN(false);
    syncUI();
    ui->loadButton->setEnabled(false);
    ui->autoExecCB->setEnabled(false);
    if (regulatorCount >= 1 && regulatorCount <= 3) {
        for (int n = 1; n <= regulatorCount; ++n)
            panel(n).enable->setChecked(false);
        for (int n = 1; n <= regulatorCount; ++n)
            enablePanel(n, 0);
    }
    for (QComboBox *box :
         {ui->ssRate1, ui->ssRate2, ui->ssRate3, ui->dvsRate1, ui->dvsRate2, ui->dvsRate3})
        box->setCurrentIndex(0);
    ui->loadButton->setStyleSheet(NO_MARK);
    Q_EMIT powerChanged(false);
}

void MainWindow::enablePanel(int n, int enable) {
    const bool e = enable != 0;
    const Panel p = panel(n);
    p.group->setEnabled(e);
    if (n == 1)
        ui->groupBox_9->setEnabled(e); // disabled in its own right by the form
    p.group->setStyleSheet(e ? QStringLiteral("QGroupBox::title{ color: black }")
                             : QStringLiteral("QGroupBox::title{ color: grey }"));
    p.ss->setEnabled(e);
    p.dvs->setEnabled(e);
    p.enable->setEnabled(e);
}

void MainWindow::enable_vr1_ctrl(int enable) {
    enablePanel(1, enable);
}
void MainWindow::enable_vr2_ctrl(int enable) {
    enablePanel(2, enable);
}
void MainWindow::enable_vr3_ctrl(int enable) {
    enablePanel(3, enable);
}

void MainWindow::disable_vr1() {
    ui->vr1enable->setChecked(false);
}
void MainWindow::disable_vr2() {
    ui->vr2enable->setChecked(false);
}
void MainWindow::disable_vr3() {
    ui->vr3enable->setChecked(false);
}

void MainWindow::enableChanged(int n, int state) {
    device->set_enable(pageOf(n), state > 0 ? 1 : 0);
    executeOnChange();
}

void MainWindow::dvsChanged(int n, int index) {
    if (index == lastDvsIndex[n - 1])
        return;
    lastDvsIndex[n - 1] = index;
    device->set_dvs_code(pageOf(n), index);
    executeOnChange();
}

void MainWindow::ssChanged(int n, int index) {
    if (index == lastSsIndex[n - 1])
        return;
    lastSsIndex[n - 1] = index;
    setSoftStart(*device, pageOf(n), index);
    executeOnChange();
}

void MainWindow::sliderMoved(int n, int value) {
    const int code = regulator::codeFromSliderPosition(value);
    panel(n).target->setText(target::textForCode(code));
    device->set_dac_code(pageOf(n), code);
    device->commit(); // a slider always sends at once; the pending mark stays as it was
}

void MainWindow::targetEntered(int n) {
    const Panel p = panel(n);
    const double volts = target::voltsFromText(p.target->text());
    p.target->setText(QString::number(volts, 'g', 6));
    // Reaches the chip only through the slider's own handler, if it moves.
    p.slider->setValue(target::sliderPosition(volts));
}

void MainWindow::on_vr1enable_stateChanged(int arg1) {
    enableChanged(1, arg1);
}
void MainWindow::on_vr2enable_stateChanged(int arg1) {
    enableChanged(2, arg1);
}
void MainWindow::on_vr3enable_stateChanged(int arg1) {
    enableChanged(3, arg1);
}
void MainWindow::on_dvsRate1_currentIndexChanged(int index) {
    dvsChanged(1, index);
}
void MainWindow::on_dvsRate2_currentIndexChanged(int index) {
    dvsChanged(2, index);
}
void MainWindow::on_dvsRate3_currentIndexChanged(int index) {
    dvsChanged(3, index);
}
void MainWindow::on_ssRate1_currentIndexChanged(int index) {
    ssChanged(1, index);
}
void MainWindow::on_ssRate2_currentIndexChanged(int index) {
    ssChanged(2, index);
}
void MainWindow::on_ssRate3_currentIndexChanged(int index) {
    ssChanged(3, index);
}
void MainWindow::on_horizontalSlider_5_valueChanged(int value) {
    sliderMoved(1, value);
}
void MainWindow::on_horizontalSlider_6_valueChanged(int value) {
    sliderMoved(2, value);
}
void MainWindow::on_horizontalSlider_7_valueChanged(int value) {
    sliderMoved(3, value);
}
void MainWindow::on_lineEdit_5_returnPressed() {
    targetEntered(1);
}
void MainWindow::on_lineEdit_6_returnPressed() {
    targetEntered(2);
}
void MainWindow::on_lineEdit_7_returnPressed() {
    targetEntered(3);
}

void MainWindow::on_loadButton_clicked() {
    ui->loadButton->setStyleSheet(NO_MARK);
    device->commit();
}

// Forwarding slots: page N directly, no commit.
void MainWindow::set_vr1_enabled(int value) {
    device->set_enable(1, value > 0 ? 1 : 0);
}
void MainWindow::set_vr2_enabled(int value) {
    device->set_enable(2, value > 0 ? 1 : 0);
}
void MainWindow::set_vr3_enabled(int value) {
    device->set_enable(3, value > 0 ? 1 : 0);
}
void MainWindow::set_vr1_dac_target(int value) {
    device->set_dac_code(1, regulator::codeFromSliderPosition(value));
}
void MainWindow::set_vr2_dac_target(int value) {
    device->set_dac_code(2, regulator::codeFromSliderPosition(value));
}
void MainWindow::set_vr3_dac_target(int value) {
    device->set_dac_code(3, regulator::codeFromSliderPosition(value));
}
void MainWindow::set_vr1_dvs_rate(int value) {
    device->set_dvs_code(1, value);
}
void MainWindow::set_vr2_dvs_rate(int value) {
    device->set_dvs_code(2, value);
}
void MainWindow::set_vr3_dvs_rate(int value) {
    device->set_dvs_code(3, value);
}
void MainWindow::set_vr1_ss_rate(int value) {
    device->set_ss_code(1, value);
}
void MainWindow::set_vr2_ss_rate(int value) {
    device->set_ss_code(2, value);
}
void MainWindow::set_vr3_ss_rate(int value) {
    device->set_ss_code(3, value);
}
void MainWindow::set_vr1_clim_rate(int value) {
    device->set_clim_code(1, value);
}
void MainWindow::set_vr2_clim_rate(int value) {
    device->set_clim_code(2, value);
}
void MainWindow::set_vr3_clim_rate(int value) {
    device->set_clim_code(3, value);
}
void MainWindow::load() {
    device->commit();
}
double MainWindow::get_vin_telemetry() {
    return device->read_vin();
}
double MainWindow::get_temp_telemetry() {
    return device->read_temperature();
}
double MainWindow::get_vout1_telemetry() {
    return device->read_vout(1);
}
double MainWindow::get_vout2_telemetry() {
    return device->read_vout(2);
}
double MainWindow::get_vout3_telemetry() {
    return device->read_vout(3);
}
int MainWindow::get_core_status() {
    return device->read_core_status();
}
int MainWindow::get_vr1_status() {
    return device->read_page_status(1);
}
int MainWindow::get_vr2_status() {
    return device->read_page_status(2);
}
int MainWindow::get_vr3_status() {
    return device->read_page_status(3);
}
