#include "app/register_view.h"

#include "app/mainwindow.h"
#include "device/ivr_device.h"
#include "device/register_access.h"
#include "device/register_description.h"
#include "device/register_map.h"
#include "device/text.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const QString TITLE = QStringLiteral("Registers");

// A byte as "0x9a" or "154"; -1 for anything else.
int parseByte(QString text) {
    text = text.trimmed();
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const uint value = hex ? text.mid(2).toUInt(&ok, 16) : text.toUInt(&ok, 10);
    return ok && value <= 0xFF ? int(value) : -1;
}

QString hexText(int value) {
    return QString::fromStdString(text::hex2(value));
}
} // namespace

RegisterView::RegisterView(MainWindow *window) : QWidget(window, Qt::Window), window(window) {
    setWindowTitle(TITLE);
    setObjectName(QStringLiteral("registerView"));

    grid = new QTableWidget(0, COLUMNS, this);
    grid->setObjectName(QStringLiteral("registers"));
    grid->setHorizontalHeaderLabels(
        {tr("Address"), tr("Name"), tr("Value"), tr("Binary"), tr("Fields")});
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);

    readButton = new QPushButton(tr("Read all"), this);
    readButton->setObjectName(QStringLiteral("readAll"));
    addressEdit = new QLineEdit(this);
    addressEdit->setObjectName(QStringLiteral("writeAddress"));
    addressEdit->setPlaceholderText(tr("address"));
    valueEdit = new QLineEdit(this);
    valueEdit->setObjectName(QStringLiteral("writeValue"));
    valueEdit->setPlaceholderText(tr("value"));
    writeButton = new QPushButton(tr("Write"), this);
    writeButton->setObjectName(QStringLiteral("write"));

    auto *bar = new QHBoxLayout();
    bar->addWidget(readButton);
    bar->addStretch(1);
    bar->addWidget(new QLabel(tr("Register"), this));
    bar->addWidget(addressEdit);
    bar->addWidget(new QLabel(tr("Value"), this));
    bar->addWidget(valueEdit);
    bar->addWidget(writeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(grid, 1);
    resize(960, 640);

    connect(readButton, &QPushButton::clicked, this, &RegisterView::readAll);
    connect(writeButton, &QPushButton::clicked, this, &RegisterView::writeAsked);
    connect(valueEdit, &QLineEdit::returnPressed, this, &RegisterView::writeAsked);
    connect(grid, &QTableWidget::itemChanged, this, &RegisterView::cellEdited);
    reread = new QTimer(this);
    reread->setSingleShot(true);
    reread->setInterval(REREAD_DELAY_MS);
    connect(reread, &QTimer::timeout, this, &RegisterView::readAll);
    setPowered(false);
}

void RegisterView::setChip(int regulatorCount) {
    regulators = regulatorCount;
    addresses.clear();
    for (uint8_t address : describedRegisters(regulatorCount))
        addresses.push_back(address);
    values.assign(addresses.size(), -1);
    filling = true;
    grid->setRowCount(int(addresses.size()));
    for (int row = 0; row < int(addresses.size()); ++row) {
        const int address = addresses[size_t(row)];
        const QString cells[COLUMNS] = {
            hexText(address), QString::fromStdString(registerName(uint8_t(address), regulators)),
            QString(), QString(), QString()};
        for (int column = 0; column < COLUMNS; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            // Only the value of a register the model may write can be edited.
            Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
            if (column == HEX && isWritable(uint16_t(address)))
                flags |= Qt::ItemIsEditable;
            item->setFlags(flags);
            grid->setItem(row, column, item);
        }
    }
    filling = false;
    grid->resizeColumnsToContents();
}

void RegisterView::setPowered(bool on) {
    isPowered = on;
    if (!on)
        reread->stop();
    readButton->setEnabled(on);
    writeButton->setEnabled(on);
    grid->setEnabled(on);
}

void RegisterView::showValue(int row, int value) {
    const uint8_t address = uint8_t(addresses[size_t(row)]);
    values[size_t(row)] = value;
    const bool read = value >= 0;
    filling = true;
    grid->item(row, HEX)->setText(read ? hexText(value) : QString());
    grid->item(row, BINARY)
        ->setText(read ? QString::fromStdString(binaryText(uint8_t(value))) : QString());
    grid->item(row, FIELDS)
        ->setText(read ? QString::fromStdString(registerFields(address, uint8_t(value), regulators))
                       : QString());
    filling = false;
}

void RegisterView::chipChanged() {
    if (isPowered && isVisible())
        reread->start();
}

void RegisterView::readAll() {
    reread->stop(); // whatever was waiting is read now
    if (!isPowered)
        return;
    IvrDevice &device = *window->ivrDevice();
    // Live reads that leave the cache alone: changes waiting for Execute stay.
    for (int row = 0; row < int(addresses.size()); ++row)
        showValue(row, device.read_register(uint8_t(addresses[size_t(row)]), true, false));
    for (int column : {HEX, BINARY, FIELDS})
        grid->resizeColumnToContents(column);
}

QString RegisterView::writeRegister(int address, int value) {
    const uint8_t a = uint8_t(address);
    const std::string refusal = accessRefusal(a, true);
    if (!refusal.empty())
        return QString::fromStdString(refusal);
    // A link failure goes on to the application's handler like any other.
    ::writeRegister(*window->ivrDevice(), a, uint8_t(value));
    readAll();
    return QString();
}

bool RegisterView::userWrite(const QString &addressText, const QString &valueText) {
    const int address = parseByte(addressText);
    const int value = parseByte(valueText);
    QString problem;
    if (address < 0 || value < 0)
        problem = tr("A register and a value are each a byte: 0x00 to 0xff, or 0 to 255.");
    else
        problem = writeRegister(address, value);
    if (problem.isEmpty())
        return true;
    QMessageBox::warning(this, TITLE, problem);
    return false;
}

void RegisterView::writeAsked() {
    if (isPowered)
        userWrite(addressEdit->text(), valueEdit->text());
}

void RegisterView::cellEdited(QTableWidgetItem *item) {
    if (filling || item->column() != HEX || !isPowered)
        return;
    const int row = item->row();
    // Written: the view was read again. Refused: the cell shows what it held.
    if (!userWrite(hexText(addresses[size_t(row)]), item->text()))
        showValue(row, values[size_t(row)]);
}
