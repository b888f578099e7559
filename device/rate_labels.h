// Display texts of the 4-bit DVS and soft-start rate codes; the index is the code.
#pragma once

#include <array>
#include <string>

using RateLabels = std::array<std::string, 16>;

extern const RateLabels dvs_rate_labels;
extern const RateLabels ss_rate_labels;

// Labels first..last (codes), joined by separator: "0.5 1.0 2.0" for 0, 2, " ".
std::string joinedRateLabels(int first, int last, const std::string &separator);

// The code of a rate given as one of the labels ("3.9") or as the code itself
// ("0" to "15"); -1 when the text is neither.
int rateCodeFromText(const RateLabels &labels, const std::string &text);
