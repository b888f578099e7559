// Conversions between the output-target controls and DAC codes: slider
// position p is code p + 57, code c is c * 0.0041 + 0.2667 volts.
#pragma once

#include <QString>

namespace target {
// What a target line edit shows for a code: the voltage in single precision
// with 3 significant digits ("0.599" for code 81).
QString textForCode(int code);
// A typed target in volts, clamped to 0.5..1.202. The decimal separator may be
// a point or a comma ("0,9" is 0.9); text that is not a finite number counts as
// 0, so it becomes 0.5.
double voltsFromText(const QString &text);
// The slider position for a target in volts, truncated toward zero.
int sliderPosition(double volts);
} // namespace target
