// The polling tick (telemetry means and status indicators) and the copy of the
// cached settings into the controls.
#include "app/mainwindow.h"

#include "app/target_entry.h"
#include "device/ivr_device.h"
#include "device/regulator.h"
#include "link/motherboard.h"
#include "ui_mainwindow.h"

namespace {
int bit(int value, int n) {
    return (value >> n) & 1;
}
} // namespace

void MainWindow::timerLoop() {
    // The tick's traffic reaches the log only while both Active and Telem are on.
    const bool saved = logEnabled;
    logEnabled = saved && ui->telemButton->isChecked();
    struct Restore {
        bool &flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{logEnabled, saved};

    telemetryHistory[0][historyIndex] = device->read_vin();
    telemetryHistory[1][historyIndex] = device->read_temperature();
    for (int page = 1; page <= 3; ++page)
        telemetryHistory[1 + page][historyIndex] = device->read_vout(page);
    historyIndex = (historyIndex + 1) % 8;

    std::array<double, 5> mean{};
    for (int row = 0; row < 5; ++row) {
        double sum = 0.0;
        for (double sample : telemetryHistory[row])
            sum += sample;
        mean[row] = sum * 0.125;
    }
    ui->vinTelem->display(mean[0]);
    ui->tempTelem->display(mean[1]);
    // Rows 2 to 4 are pages 1 to 3; a two-regulator chip shows page 3 in panel 2.
    for (int n = 1; n <= 3; ++n)
        panel(n).vout->display(
            regulator::shownVout(mean[1 + regulator::panelShownPage(n, regulatorCount)]));

    const int core = device->read_core_status();
    ui->vinUv->setFail(bit(core, 0));
    ui->vinUv->setWarn(bit(core, 1));
    ui->vinOv->setFail(bit(core, 2));
    ui->vinOv->setWarn(bit(core, 3));
    ui->oTemp->setFail(bit(core, 4));
    ui->oTemp->setWarn(bit(core, 5));

    if (regulatorCount >= 1 && regulatorCount <= 3) {
        for (int n = 1; n <= regulatorCount; ++n)
            showPanelStatus(n, device->read_page_status(pageOf(n)));
    }

    const int sampled = (historyIndex + 7) % 8;
    Q_EMIT telemetryRead(telemetryHistory[0][sampled], telemetryHistory[1][sampled],
                         telemetryHistory[2][sampled], telemetryHistory[3][sampled],
                         telemetryHistory[4][sampled]);
}

void MainWindow::showPanelStatus(int n, quint8 data) {
    const Panel p = panel(n);
    p.ov->setWarn(bit(data, 0));
    p.uv->setWarn(bit(data, 1));
    p.sc->setFail(bit(data, 2));
}

void MainWindow::set_vr1_display(quint8 data) {
    showPanelStatus(1, data);
}
void MainWindow::set_vr2_display(quint8 data) {
    showPanelStatus(2, data);
}
void MainWindow::set_vr3_display(quint8 data) {
    showPanelStatus(3, data);
}

void MainWindow::syncUI() {
    // Panel k shows page k, except that a two-regulator chip keeps its second
    // regulator in page 3; panel 3 then shows page 2's enable and index 0.
    const bool two = regulatorCount == 2;
    for (int n = 1; n <= 3; ++n) {
        const Panel p = panel(n);
        const int page = regulator::panelShownPage(n, regulatorCount);
        p.enable->setChecked(device->get_enable(page));
        const bool unpopulatedPanel = two && n == 3;
        p.dvs->setCurrentIndex(unpopulatedPanel ? 0 : device->get_dvs_code(page));
        p.ss->setCurrentIndex(unpopulatedPanel ? 0 : device->get_ss_code(page));
    }

    for (int n = 1; n <= 3; ++n) {
        const Panel p = panel(n);
        const int code = device->get_dac_code(regulator::panelShownPage(n, regulatorCount));
        const bool shown =
            n == 1 || (n == 2 && regulatorCount != 1) || (n == 3 && regulatorCount == 3);
        p.target->setText(shown ? target::textForCode(code) : QStringLiteral("N/A"));
        p.slider->setValue(regulator::sliderPositionFromCode(code));
    }

    if (!board->getEN()) {
        for (StatusIndicator *indicator : {ui->vinUv, ui->vinUv, ui->vinOv, ui->vinOv, ui->oTemp,
                                           ui->oTemp, ui->vr1ov, ui->vr1uv, ui->vr1sc, ui->vr2ov,
                                           ui->vr2uv, ui->vr2sc, ui->vr3ov, ui->vr3uv, ui->vr3sc})
            indicator->clear();
        for (QLCDNumber *lcd : {ui->vinTelem, ui->tempTelem, ui->vr1vout, ui->vr2vout, ui->vr3vout})
            lcd->display(0);
    }
}
