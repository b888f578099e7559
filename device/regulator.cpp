#include "device/regulator.h"

#include "device/conversions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace regulator {

namespace {
// How far below a step a computed position may fall and still count as that
// step: covers the rounding of values like 0.7505 (exactly code 118), which
// divide to 117.99999999999997.
constexpr double STEP_TOLERANCE = 1e-6;

double position(double volts) {
    return (volts - conv::VOUT_OFFSET) / conv::VOUT_STEP - DAC_CODE_MIN;
}
} // namespace

int pageOf(int regulator, int regulatorCount) {
    if (regulator < 1 || regulator > regulatorCount || regulatorCount > 3)
        return 0;
    if (regulatorCount == 2 && regulator == 2)
        return 3;
    return regulator;
}

std::vector<int> populatedPages(int regulatorCount) {
    std::vector<int> pages;
    for (int vr = 1; vr <= regulatorCount && vr <= 3; ++vr)
        pages.push_back(pageOf(vr, regulatorCount));
    return pages;
}

bool pagePopulated(int page, int regulatorCount) {
    for (int populated : populatedPages(regulatorCount)) {
        if (populated == page)
            return true;
    }
    return false;
}

double voltsFromDacCode(int code) {
    return conv::voutFromCode(static_cast<uint8_t>(code));
}

bool targetInRange(double volts) {
    return volts >= TARGET_MIN_V && volts <= TARGET_MAX_V;
}

double clampTarget(double volts) {
    if (TARGET_MIN_V > volts)
        return TARGET_MIN_V;
    return std::min(TARGET_MAX_V, volts);
}

int sliderPositionForVolts(double volts) {
    return int(position(volts));
}

int dacCodeFromVolts(double volts) {
    const int code = static_cast<int>(std::trunc(position(volts) + STEP_TOLERANCE)) + DAC_CODE_MIN;
    return std::clamp(code, DAC_CODE_MIN, DAC_CODE_MAX);
}

std::string targetText(int code) {
    const float volts = float(code * conv::VOUT_STEP + conv::VOUT_OFFSET);
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", double(volts));
    return text;
}

double shownVout(double volts) {
    return volts < VOUT_SHOWN_FROM_V ? 0.0 : volts;
}

int climCodeForSoftStart(int ssCode) {
    return std::clamp(ssCode - 2, 0, 10);
}

} // namespace regulator

namespace regulator {
int panelPage(int panel, int regulatorCount) {
    return (panel == 2 && regulatorCount == 2) ? 3 : panel;
}

int panelShownPage(int panel, int regulatorCount) {
    return (regulatorCount == 2 && panel >= 2) ? 5 - panel : panel;
}
} // namespace regulator
