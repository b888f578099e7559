#include "app/target_entry.h"

#include "device/regulator.h"

#include <cmath>

namespace target {

QString textForCode(int code) {
    return QString::fromStdString(regulator::targetText(code));
}

double voltsFromText(const QString &text) {
    bool number = false;
    float typed = text.toFloat(&number);
    // "0,9" as written where the comma is the decimal separator: 0.9 V.
    if (!number && text.count(QLatin1Char(',')) == 1 && !text.contains(QLatin1Char('.')))
        typed = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toFloat(&number);
    double x = number ? double(typed) : 0.0; // 0 for text that is not a number
    if (!std::isfinite(x))                   // "nan", "inf": no voltage either
        x = 0.0;
    return regulator::clampTarget(x);
}

int sliderPosition(double volts) {
    return regulator::sliderPositionForVolts(volts);
}

} // namespace target
