#include "ctl/json_output.h"

#include "device/regulator.h"
#include "device/status_flags.h"
#include "device/text.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace ctl {

namespace {
std::string line(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QString qs(const std::string &text) {
    return QString::fromStdString(text);
}

// The value the text output shows, as a number: QJsonDocument writes the
// shortest form that reads back the same, so 1.801 stays 1.801.
double rounded(double value, int decimals) {
    return QByteArray::fromStdString(text::fixed(value, decimals)).toDouble();
}
} // namespace

std::string jsonKey(const std::string &label) {
    std::string key;
    for (char c : label) {
        if (c >= 'A' && c <= 'Z')
            key += char(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            key += c;
        else
            key += '_';
    }
    return key;
}

std::string detectJson(const ChipDescriptor &chip) {
    QJsonObject object;
    object["chip"] = qs(chip.chip_name);
    object["address"] = int(chip.i2c_address);
    object["id"] = int(chip.chip_id);
    object["regulators"] = int(chip.regulator_count);
    return line(object);
}

std::string statusJson(uint8_t coreStatus, const std::vector<uint8_t> &regulatorStatus) {
    QJsonObject object;
    StatusLevel worst = StatusLevel::Ok;
    for (const StatusFlag &flag : decodeStatus(coreStatus, regulatorStatus)) {
        object[qs(jsonKey(flag.name))] = statusWord(flag.level);
        if (int(flag.level) > int(worst))
            worst = flag.level;
    }
    object["overall"] = statusWord(worst);
    return line(object);
}

std::string telemetryJson(const TelemetrySample &sample) {
    QJsonObject object;
    object["time"] = qs(sample.time);
    object["vin_v"] = rounded(sample.vin, 3);
    object["temperature_c"] = rounded(sample.temperature, 2);
    for (size_t i = 0; i < sample.vout.size(); ++i)
        object[qs("vr" + std::to_string(i + 1) + "_v")] =
            rounded(regulator::shownVout(sample.vout[i]), 4);
    return line(object);
}

std::string dumpJson(const std::map<int, uint8_t> &values) {
    QJsonObject registers;
    for (const auto &entry : values)
        registers[qs(text::hex2(uint8_t(entry.first)))] = int(entry.second);
    QJsonObject object;
    object["registers"] = registers;
    return line(object);
}

std::string bridgeJson(const hid::DeviceInfo &bridge) {
    QJsonObject object;
    object["path"] = qs(bridge.path);
    object["serial"] = qs(bridge.serialNumber);
    object["manufacturer"] = qs(bridge.manufacturer);
    object["product"] = qs(bridge.product);
    return line(object);
}

} // namespace ctl
