// The register view (View > Registers): every register the model may read on
// the identified chip, with its address, name, value in hex and binary and its
// fields decoded. Read on demand (Read all, on opening, after a commit), never
// per tick, live from the chip and without touching the model's cache. A write
// goes through the model's access rules and a commit, like every other
// transaction: it shows in the activity log, and an address the model refuses
// shows the model's own text.
#pragma once

#include <QWidget>
#include <vector>

class MainWindow;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

class RegisterView : public QWidget {
    Q_OBJECT
public:
    enum Column { ADDRESS, NAME, HEX, BINARY, FIELDS, COLUMNS };

    explicit RegisterView(MainWindow *window);

    // The rows of a chip with this many regulators, values not yet read.
    void setChip(int regulatorCount);
    // Reads and writes are possible only while the chip is powered.
    void setPowered(bool powered);
    bool powered() const { return isPowered; }
    QTableWidget *table() const { return grid; }

    // Writes a byte to a register and commits: "" when done, else the model's
    // refusal. The update trigger (write-only) is forced as it is; any other
    // register is written whole through the cache and sent even when it
    // already holds the value. The view is read again afterwards.
    QString writeRegister(int address, int value);

    // How long after a commit from elsewhere (the main window's controls) the
    // view is read again: a slider dragged across its range commits at every
    // step, and is read once it rests.
    static constexpr int REREAD_DELAY_MS = 200;
    QTimer *rereadTimer() const { return reread; }

public Q_SLOTS:
    void readAll();
    // A commit reached the chip: read again soon, if shown.
    void chipChanged();

private:
    void writeAsked();
    void cellEdited(QTableWidgetItem *item);
    // A write from the user: a refusal or bad input in a warning box. True when
    // written.
    bool userWrite(const QString &addressText, const QString &valueText);
    // A value read (-1: not read yet) in its row's cells.
    void showValue(int row, int value);

    MainWindow *window;
    QTableWidget *grid = nullptr;
    QPushButton *readButton = nullptr;
    QPushButton *writeButton = nullptr;
    QLineEdit *addressEdit = nullptr;
    QLineEdit *valueEdit = nullptr;
    QTimer *reread = nullptr;
    std::vector<int> addresses; // by row
    std::vector<int> values;    // by row, as last read; -1 before
    int regulators = 0;
    bool isPowered = false;
    bool filling = false; // cells set by the view, not edited by the user
};
