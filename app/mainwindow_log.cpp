// The activity log and the menu and file actions.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringListModel>

void MainWindow::enableLog(bool enable) {
    logEnabled = enable;
}

void MainWindow::addMsg(QString msg) {
    if (!logEnabled)
        return;
    // One row appended, not the whole list handed over again, and the view
    // (a LogView) places it without laying out the others: storing a line costs
    // the same however long the log has grown. The model holds the only copy.
    const int row = logModel->rowCount();
    logModel->insertRows(row, 1);
    logModel->setData(logModel->index(row), msg);
}

void MainWindow::clearMsgs() {
    logModel->setStringList(QStringList());
}

void MainWindow::aboutDialog() {
    QMessageBox::about(this, QStringLiteral("About QM44xxC Demo"),
                       QStringLiteral("<p><b>QM44xxC Demo</b> %1: control panel for the QM44xxC "
                                      "evaluation board.</p>"
                                      "<p>Made by the qm44xx open-source developers.</p>")
                           .arg(QStringLiteral(QM_VERSION)));
}

void MainWindow::openConfigFile() {
    const QString name = QFileDialog::getOpenFileName(this, tr("Open Config"), QStringLiteral("."),
                                                      tr("Config Files (*.cfg)"));
    if (name.isEmpty())
        return;
    syncUI();
}

void MainWindow::saveConfigFile() {
    QMessageBox::warning(this, QStringLiteral("QM44xxC-DEMO"),
                         QStringLiteral("Not implemented yet"), QMessageBox::Ok,
                         QMessageBox::NoButton);
}

void MainWindow::saveHexFile() {
    saveConfigFile();
}
