#include "device/telemetry_format.h"

#include "device/regulator.h"
#include "device/text.h"

namespace {
std::string voutText(double volts) {
    return text::fixed(regulator::shownVout(volts), 4);
}
} // namespace

std::string telemetryCsvHeader(int regulators) {
    std::string header = "time,vin_v,temperature_c";
    for (int vr = 1; vr <= regulators; ++vr)
        header += ",vr" + std::to_string(vr) + "_v";
    return header;
}

std::string telemetryCsvRow(const TelemetrySample &sample) {
    std::string row =
        sample.time + "," + text::fixed(sample.vin, 3) + "," + text::fixed(sample.temperature, 2);
    for (double volts : sample.vout)
        row += "," + voutText(volts);
    return row;
}

std::string telemetryLine(const TelemetrySample &sample) {
    std::string line = "VIN " + text::fixed(sample.vin, 3) + " V  temperature " +
                       text::fixed(sample.temperature, 2) + " C";
    for (size_t i = 0; i < sample.vout.size(); ++i)
        line += "  VR" + std::to_string(i + 1) + " " + voutText(sample.vout[i]) + " V";
    return line;
}
