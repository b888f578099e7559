#include "app/telemetry_recorder.h"

#include "app/file_choice.h"

#include <QFileInfo>

TelemetryRecorder::TelemetryRecorder(QObject *parent) : QObject(parent) {}

TelemetryRecorder::~TelemetryRecorder() = default;

QString TelemetryRecorder::start(const QString &path, int regulatorCount) {
    stop();
    const QString special = specialFileRefusal(path);
    if (!special.isEmpty())
        return special;
    auto opened = std::make_unique<QFile>(path);
    if (!opened->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return tr("cannot open %1: %2").arg(path, opened->errorString());
    file = std::move(opened);
    filePath = path;
    rowCount = 0;
    if (!writeLine(telemetryCsvHeader(regulatorCount))) {
        const QString reason = tr("cannot write %1: %2").arg(path, file->errorString());
        file.reset();
        return reason;
    }
    return QString();
}

void TelemetryRecorder::stop() {
    if (!file)
        return;
    file->close();
    file.reset();
    Q_EMIT stopped();
}

bool TelemetryRecorder::writeLine(const std::string &line) {
    const QByteArray bytes = QByteArray::fromStdString(line + "\n");
    return file->write(bytes) == bytes.size() && file->flush();
}

void TelemetryRecorder::write(const TelemetrySample &sample) {
    if (!file)
        return;
    QString reason;
    if (!writeLine(telemetryCsvRow(sample)))
        reason = tr("cannot write %1: %2").arg(filePath, file->errorString());
    // Rows written to a file that was deleted or moved away would reach nobody.
    else if (!QFileInfo::exists(filePath))
        reason = tr("%1 was removed").arg(filePath);
    if (reason.isEmpty()) {
        ++rowCount;
        return;
    }
    // The bytes that could not go out are not tried again: the file is closed.
    stop();
    Q_EMIT failed(reason);
}
