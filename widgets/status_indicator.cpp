#include "widgets/status_indicator.h"

StatusIndicator::StatusIndicator(QWidget *parent) : QLabel(parent) {
    setText(QString());
}

void StatusIndicator::setWarn(int bit) {
    warn = bit > 0;
    update();
}

void StatusIndicator::setFail(int bit) {
    fail = bit > 0;
    update();
}

void StatusIndicator::clear() {
    warn = false;
    fail = false;
    setText(QString());
}

void StatusIndicator::update() {
    if (fail)
        setText(QStringLiteral("<div style='color:red;'><b>FAIL</b></div>"));
    else if (warn)
        setText(QStringLiteral("<div style='color:orange;'><b>WARN</b></div>"));
    else
        setText(QStringLiteral("<div style='color:green;'>OK</div>"));
    // The slot hides QWidget::update(); the repaint request goes to the base.
    QWidget::update();
}
