// A label that shows one status flag as "OK", "WARN" or "FAIL". It remembers a
// warning and a failure flag and shows the more severe of the two.
#pragma once

#include <QLabel>

class StatusIndicator : public QLabel {
    Q_OBJECT
public:
    explicit StatusIndicator(QWidget *parent = nullptr);

public Q_SLOTS:
    void setWarn(int bit);
    void setFail(int bit);
    // Blank, with both flags reset; stays blank until the next setter or update().
    void clear();
    // Shows the text for the remembered flags (FAIL over WARN over OK).
    void update();

private:
    bool warn = false;
    bool fail = false;
};
