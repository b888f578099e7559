#include "device/rate_labels.h"

namespace {
// Both lists hold the same texts, in mV/us.
const RateLabels rate_labels = {"0.5", "1.0", "2.0", "3.9", "7.8",  "15.4", "30.8", "61.5",
                                "123", "246", "492", "984", "1968", "3936", "7872", "15744"};
} // namespace

const RateLabels dvs_rate_labels = rate_labels;
const RateLabels ss_rate_labels = rate_labels;

std::string joinedRateLabels(int first, int last, const std::string &separator) {
    std::string text;
    for (int code = first; code <= last && code < 16; ++code)
        text += (code == first ? "" : separator) + rate_labels[size_t(code)];
    return text;
}

int rateCodeFromText(const RateLabels &labels, const std::string &text) {
    for (int code = 0; code < 16; ++code) {
        if (labels[code] == text)
            return code;
    }
    if (text.empty() || text.size() > 2)
        return -1;
    int code = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        code = code * 10 + (c - '0');
    }
    return code <= 15 ? code : -1;
}
