#include "app/target_entry.h"

#include "device/conversions.h"

#include <algorithm>
#include <cmath>

namespace target {

QString textForCode(int code) {
    const float volts = float(code * conv::VOUT_STEP + conv::VOUT_OFFSET);
    return QString::number(double(volts), 'g', 3);
}

double voltsFromText(const QString &text) {
    double x = double(text.toFloat()); // 0 for text that is not a number
    if (!std::isfinite(x))             // "nan", "inf": no voltage either
        x = 0.0;
    if (conv::VOUT_TARGET_MIN > x)
        return conv::VOUT_TARGET_MIN;
    return std::min(conv::VOUT_TARGET_MAX, x);
}

int sliderPosition(double volts) {
    return int((volts - conv::VOUT_OFFSET) / conv::VOUT_STEP - conv::DAC_CODE_MIN);
}

} // namespace target
