#include "app/mainwindow.h"

#include "app/target_entry.h"
#include "device/ivr_device.h"
#include "device/rate_labels.h"
#include "device/regulator.h"
#include "link/motherboard.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringListModel>
#include <QTimer>
#include <algorithm>

namespace {
const QString TITLE_GREY = QStringLiteral("QGroupBox::title{ color: grey }");
const QString TITLE_BLACK = QStringLiteral("QGroupBox::title{ color: black }");

double bounded(double lower, double upper, double input) {
    return lower > input ? lower : std::min(upper, input);
}
} // namespace

// The images live in a static library: register them once, by hand (outside any
// namespace, as the resource compiler's symbols are global).
static void initResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(panel);
        return true;
    }();
    Q_UNUSED(done);
}

MainWindow::MainWindow(QWidget *parent) : MainWindow(std::string(), parent) {}

MainWindow::MainWindow(const std::string &devicePath, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow) {
    initResources();
    ui->setupUi(this);
    ui->pvin_on_btn->setIcon(QIcon(QStringLiteral(":/resources/src/img/on_off_btn.JPG")));
    // The Program group places its children by hand; with wider fonts than the
    // form was drawn for, the check box grows to show its whole caption.
    QCheckBox *autoExec = ui->autoExecCB;
    autoExec->resize(std::max(autoExec->width(), autoExec->sizeHint().width()), autoExec->height());

    for (QGroupBox *group : {ui->groupBox_2, ui->groupBox_3, ui->groupBox_7})
        group->setStyleSheet(TITLE_GREY);
    ui->groupBox_5->setStyleSheet(TITLE_BLACK);
    ui->groupBox_6->setStyleSheet(TITLE_BLACK);
    for (QLCDNumber *lcd : {ui->vinTelem, ui->tempTelem, ui->vr1vout, ui->vr2vout, ui->vr3vout})
        lcd->setStyleSheet(QStringLiteral("QLCDNumber {color:black(40, 40, 255)}"));
    for (QSlider *slider :
         {ui->horizontalSlider_5, ui->horizontalSlider_6, ui->horizontalSlider_7}) {
        slider->setMaximum(regulator::SLIDER_MAX);
        slider->setSingleStep(1);
    }

    connect(ui->activeButton, &QToolButton::toggled, this, &MainWindow::enableLog);
    connect(ui->actionExit, &QAction::triggered, this, &QWidget::close);
    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::aboutDialog);

    // Adding the first entry makes index 0 current; the remembered indices start
    // at 0, so the handlers see no change while the board does not exist yet.
    const std::array<QComboBox *, 3> dvs = {ui->dvsRate1, ui->dvsRate2, ui->dvsRate3};
    const std::array<QComboBox *, 3> ss = {ui->ssRate1, ui->ssRate2, ui->ssRate3};
    for (const std::string &label : dvs_rate_labels)
        for (QComboBox *box : dvs)
            box->addItem(QString::fromStdString(label));
    for (int i = 0; i < 3; ++i)
        lastDvsIndex[i] = dvs[i]->currentIndex();
    for (const std::string &label : ss_rate_labels)
        for (QComboBox *box : ss)
            box->addItem(QString::fromStdString(label));
    for (int i = 0; i < 3; ++i)
        lastSsIndex[i] = ss[i]->currentIndex();

    try {
        board = new MotherBoard(nullptr, devicePath);
    } catch (...) {
        delete ui; // the widgets go with the window; the form's pointers must too
        ui = nullptr;
        throw;
    }
    device = board->device;

    for (QLineEdit *edit : {ui->lineEdit_5, ui->lineEdit_6, ui->lineEdit_7})
        edit->setText(QStringLiteral("0.5"));

    logModel = new QStringListModel(this);
    ui->listView->setModel(logModel);
    // A log is a record: rows are not edited. Uniform rows keep a long log cheap.
    ui->listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->listView->setUniformItemSizes(true);

    connect(board, &MotherBoard::logMessage, this, &MainWindow::addMsg);
    connect(ui->clearButton, &QToolButton::pressed, this, &MainWindow::clearMsgs);

    pollTimer = new QTimer(this);
    pollTimer->setObjectName(QStringLiteral("pollTimer"));
    connect(pollTimer, &QTimer::timeout, this, &MainWindow::timerLoop);
}

MainWindow::~MainWindow() {
    pollTimer->stop();
    delete board;
    delete ui;
}

void MainWindow::setClock(const Clock &newClock) {
    clock = newClock;
    board->setClock(newClock);
}

MainWindow::Panel MainWindow::panel(int n) const {
    switch (n) {
    case 1:
        return {ui->groupBox_2, ui->vr1enable, ui->lineEdit_5, ui->horizontalSlider_5,
                ui->dvsRate1,   ui->ssRate1,   ui->vr1vout,    ui->vr1ov,
                ui->vr1uv,      ui->vr1sc};
    case 2:
        return {ui->groupBox_3, ui->vr2enable, ui->lineEdit_6, ui->horizontalSlider_6,
                ui->dvsRate2,   ui->ssRate2,   ui->vr2vout,    ui->vr2ov,
                ui->vr2uv,      ui->vr2sc};
    default:
        return {ui->groupBox_7, ui->vr3enable, ui->lineEdit_7, ui->horizontalSlider_7,
                ui->dvsRate3,   ui->ssRate3,   ui->vr3vout,    ui->vr3ov,
                ui->vr3uv,      ui->vr3sc};
    }
}

int MainWindow::pageOf(int n) const {
    return regulator::panelPage(n, regulatorCount);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    // No tick may reach the board after EN goes low: one could still fall due
    // before the event loop ends.
    pollTimer->stop();
    board->setEN(false);
    board->setPVIN(false);
    event->accept();
}

double MainWindow::check_pvin_bound(double input) {
    return bounded(1.599, 2.001, input);
}

double MainWindow::check_vout_bound(double input) {
    return regulator::clampTarget(input);
}

double MainWindow::check_dcload_bound(int vr, double input) {
    const double upper = (vr >= 1 && vr <= 3) ? activeChip.dcload_max[vr - 1] : 0.0;
    return bounded(0.0, upper, input);
}
