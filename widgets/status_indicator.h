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
    // Shows the text for the remembered flags (FAIL over WARN over OK) and
    // repaints.
    void update();

private:
    // Shows the text for the flags; a label repaints only when its text changes,
    // so polling the same status again and again draws nothing.
    void showFlags();

    bool warn = false;
    bool fail = false;
};
