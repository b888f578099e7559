#include "app/settings_actions.h"

#include "app/file_choice.h"
#include "app/mainwindow.h"
#include "device/config_file.h"
#include "device/ivr_device.h"
#include "device/settings.h"

#include <QFile>

namespace {
const char *FILTER = "Settings files (*.cfg);;All files (*)";

QString fromStd(const std::string &text) {
    return QString::fromStdString(text);
}
} // namespace

SettingsActions::SettingsActions(MainWindow *window) : QObject(window), window(window) {}

QString SettingsActions::save(const QString &path) {
    const QString special = specialFileRefusal(path);
    if (!special.isEmpty())
        return special;
    // The chip's own settings, as the tool saves them, read through a second
    // model on the same board: changes that wait for Execute stay pending in
    // the window's model.
    IvrDevice &device = *window->ivrDevice();
    IvrDevice chip(device.bus, uint8_t(device.i2c_address), device.regulator_count);
    chip.chip_name = device.chip_name;
    chip.refresh();
    const ChipSettings settings = settingsFromCache(chip);
    const std::string unsavable = unsavableReason(settings);
    if (!unsavable.empty())
        return tr("%1: %2").arg(path, fromStd(unsavable));
    return saveWholeFile(path, QByteArray::fromStdString(formatConfig(settings, "qm44xx-panel")));
}

QString SettingsActions::load(const QString &path) {
    const QString special = specialFileRefusal(path);
    if (!special.isEmpty())
        return special;
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly))
        return tr("cannot open %1: %2").arg(path, input.errorString());
    // One byte more than a file may have: a larger one is refused unread.
    const QByteArray bytes = input.read(qint64(MAX_CONFIG_SIZE) + 1);
    if (input.error() != QFileDevice::NoError)
        return tr("cannot read %1: %2").arg(path, input.errorString());

    // Everything is checked before the first byte goes to the chip.
    const ConfigParseResult parsed = parseConfig(bytes.toStdString());
    if (!parsed.ok())
        return tr("%1: %2").arg(path, fromStd(parsed.error));
    IvrDevice &device = *window->ivrDevice();
    const std::string mismatch = mismatchReason(parsed.config, device);
    if (!mismatch.empty())
        return tr("%1: line %2: %3").arg(path).arg(parsed.chipLine).arg(fromStd(mismatch));

    // Every setting of the file goes out, also where the window's copy already
    // holds it: the chip may have been changed behind the panel's back (by the
    // tool, a reset).
    for (uint8_t address : applySettings(device, parsed.config))
        device.dirty_flags[address] = 1;
    device.commit();
    // The controls follow the cache; what they write back is what it holds, so
    // nothing more is sent.
    window->syncUI();
    Q_EMIT loaded();
    return QString();
}

void SettingsActions::askSave() {
    chooseFile(window, FileChoice::Save, tr("Save settings"), tr(FILTER),
               QStringLiteral("settings"), [this](const QString &path) { return save(path); });
}

void SettingsActions::askLoad() {
    chooseFile(window, FileChoice::Open, tr("Load settings"), tr(FILTER),
               QStringLiteral("settings"), [this](const QString &path) { return load(path); });
}
