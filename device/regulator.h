// The regulator's rules that every front end shares: which register page a
// regulator uses, the output target's encoding and range, how an output reading
// is shown, and the current limit that goes with a soft-start rate.
#pragma once

#include <string>
#include <vector>

namespace regulator {

// The register page of regulator VR1..VR3 on a chip with this many regulators
// (1: page 1; 2: pages 1 and 3; 3: pages 1, 2, 3), or 0 when it has no such one.
int pageOf(int regulator, int regulatorCount);
// The pages a chip with this many regulators populates, in regulator order.
std::vector<int> populatedPages(int regulatorCount);
// Whether a page (1 to 3) is populated on a chip with this many regulators.
bool pagePopulated(int page, int regulatorCount);

// Output targets: DAC codes 57 to 228, 0.5 V to 1.202 V as typed; the slider's
// position p is code p + 57.
constexpr int DAC_CODE_MIN = 57;
constexpr int DAC_CODE_MAX = 228;
constexpr double TARGET_MIN_V = 0.5;
constexpr double TARGET_MAX_V = 1.202;
constexpr int SLIDER_MAX = DAC_CODE_MAX - DAC_CODE_MIN;
constexpr int codeFromSliderPosition(int position) {
    return position + DAC_CODE_MIN;
}
constexpr int sliderPositionFromCode(int code) {
    return code - DAC_CODE_MIN;
}

// The voltage of a DAC code (code x 0.0041 + 0.2667).
double voltsFromDacCode(int code);
// True for a target the slider can reach: 0.5 V to 1.202 V inclusive.
bool targetInRange(double volts);
// A target bounded to 0.5 V .. 1.202 V.
double clampTarget(double volts);
// The slider position of a typed target: (volts - 0.2667) / 0.0041 - 57,
// truncated toward zero, as the window converts a typed voltage.
int sliderPositionForVolts(double volts);
// The DAC code of a target given as a number (a command or a file): as the
// slider position, but a value that is a step's own voltage as printed with
// four decimals ("0.7505") gives that step, not the one below. The caller
// checks the range first.
int dacCodeFromVolts(double volts);
// What a target field shows for a code: the voltage in single precision with
// three significant digits ("0.599" for code 81).
std::string targetText(int code);

// An output reading below this is shown as 0 (an output that is off).
constexpr double VOUT_SHOWN_FROM_V = 0.3;
double shownVout(double volts);

// The current-limit code that goes with a soft-start code: code - 2, bounded
// to 0..10.
int climCodeForSoftStart(int ssCode);

} // namespace regulator

namespace regulator {
// The window's three panels. The page whose controls panel 1..3 drives: its
// regulator's page, so panel 2 of a two-regulator chip drives page 3; panel 3
// always page 3.
int panelPage(int panel, int regulatorCount);
// The page whose settings and output voltage panel 1..3 shows: as panelPage,
// but on a two-regulator chip the third panel (disabled) shows page 2.
int panelShownPage(int panel, int regulatorCount);
} // namespace regulator
