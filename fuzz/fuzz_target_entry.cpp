// The panel's typed-target conversion (app/target_entry.h) on arbitrary text:
// the input's bytes read as UTF-8 and, separately, as Latin-1.
// For every text: the typed target is a finite voltage within 0.5..1.202 V; its
// slider position is within 0..171; the text shown for that position's code
// reads back as a number within one DAC step (4.1 mV) of the code's voltage; a
// text that QString::toFloat accepts as a finite number x (or accepts once its
// one comma is read as the decimal point) gives x clamped to the range, exactly,
// and any other text gives 0.5 V.
// Links the panel's library but creates no QApplication: no display is needed.
#include "app/target_entry.h"
#include "fuzz_input.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cmath>

namespace {

constexpr double MIN_VOLTS = 0.5;
constexpr double MAX_VOLTS = 1.202;
constexpr int MAX_POSITION = 171;  // slider positions 0..171 are codes 57..228
constexpr double STEP = 0.0041;    // volts per DAC code
constexpr double OFFSET = 0.2667;  // volts of code 0
constexpr double TOLERANCE = 1e-9; // for the sums of doubles in the step check

std::string shown(const QString &text) {
    return text.toUtf8().toStdString();
}

// What a typed target must become, computed here from Qt's own reading of the
// text rather than by the panel's code: as a number with a decimal point, or
// else with its one comma (and no point) read as the decimal point.
double expectedVolts(const QString &text) {
    bool accepted = false;
    float x = text.toFloat(&accepted);
    if (!accepted && text.count(',') == 1 && !text.contains('.')) {
        QString pointed = text;
        pointed.replace(',', '.');
        x = pointed.toFloat(&accepted);
    }
    if (!accepted || !std::isfinite(x))
        return MIN_VOLTS;
    const double volts = double(x);
    return volts < MIN_VOLTS ? MIN_VOLTS : volts > MAX_VOLTS ? MAX_VOLTS : volts;
}

void checkText(const QString &text) {
    const double volts = target::voltsFromText(text);
    FUZZ_CHECK(std::isfinite(volts) && volts >= MIN_VOLTS && volts <= MAX_VOLTS,
               "voltsFromText(\"%s\") = %.17g", shown(text).c_str(), volts);
    const double expected = expectedVolts(text);
    FUZZ_CHECK(volts == expected, "voltsFromText(\"%s\") = %.17g, expected %.17g",
               shown(text).c_str(), volts, expected);

    const int position = target::sliderPosition(volts);
    FUZZ_CHECK(position >= 0 && position <= MAX_POSITION, "sliderPosition(%.17g) = %d", volts,
               position);

    const int code = position + 57;
    const QString codeText = target::textForCode(code);
    bool number = false;
    const double read = codeText.toDouble(&number);
    const double exact = code * STEP + OFFSET;
    // Three significant digits: half a unit of the third digit at most.
    const double halfDigit = exact >= 1.0 ? 0.005 : 0.0005;
    FUZZ_CHECK(number && std::fabs(read - exact) <= halfDigit + TOLERANCE,
               "textForCode(%d) = \"%s\", %.4f V is %.4f V", code, shown(codeText).c_str(), exact,
               read);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Texts that are no voltage at all.
    for (const char *text : {"nan", "inf", "-inf", "abc", ""}) {
        const double volts = target::voltsFromText(QString::fromLatin1(text));
        FUZZ_CHECK(volts == MIN_VOLTS, "voltsFromText(\"%s\") = %.17g, expected 0.5", text, volts);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *bytes = reinterpret_cast<const char *>(data);
    const int length = int(std::min<size_t>(size, 4096));
    checkText(QString::fromUtf8(bytes, length));
    checkText(QString::fromLatin1(bytes, length));
    return 0;
}
