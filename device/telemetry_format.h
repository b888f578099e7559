// One telemetry sample and its text forms: the CSV that the tool's telemetry
// command and the panel's recording write, and the tool's plain line.
#pragma once

#include <string>
#include <vector>

// VIN in volts, die temperature in degrees Celsius and the output voltage of
// VR1.. in volts.
struct TelemetrySample {
    std::string time; // ISO 8601, UTC
    double vin = 0;
    double temperature = 0;
    std::vector<double> vout;
};

// "time,vin_v,temperature_c,vr1_v,..."
std::string telemetryCsvHeader(int regulators);
// Outputs below 0.3 V show as 0, as on the window's displays.
std::string telemetryCsvRow(const TelemetrySample &sample);
std::string telemetryLine(const TelemetrySample &sample);
