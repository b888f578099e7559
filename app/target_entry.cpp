#include "app/target_entry.h"

#include "device/regulator.h"

#include <cmath>

namespace target {

QString textForCode(int code) {
    return QString::fromStdString(regulator::targetText(code));
}

double voltsFromText(const QString &text) {
    double x = double(text.toFloat()); // 0 for text that is not a number
    if (!std::isfinite(x))             // "nan", "inf": no voltage either
        x = 0.0;
    return regulator::clampTarget(x);
}

int sliderPosition(double volts) {
    return regulator::sliderPositionForVolts(volts);
}

} // namespace target
