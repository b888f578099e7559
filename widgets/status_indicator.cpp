#include "widgets/status_indicator.h"

StatusIndicator::StatusIndicator(QWidget *parent) : QLabel(parent) {
    setText(QString());
}

void StatusIndicator::setWarn(int bit) {
    warn = bit > 0;
    showFlags();
}

void StatusIndicator::setFail(int bit) {
    fail = bit > 0;
    showFlags();
}

void StatusIndicator::clear() {
    warn = false;
    fail = false;
    setText(QString());
}

void StatusIndicator::update() {
    showFlags();
    // The slot hides QWidget::update(); the repaint request goes to the base.
    QWidget::update();
}

void StatusIndicator::showFlags() {
    if (fail)
        setText(QStringLiteral("<div style='color:red;'><b>FAIL</b></div>"));
    else if (warn)
        setText(QStringLiteral("<div style='color:orange;'><b>WARN</b></div>"));
    else
        setText(QStringLiteral("<div style='color:green;'>OK</div>"));
}
