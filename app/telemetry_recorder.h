// Recording (File > Record telemetry...): one CSV row per polling tick, in the
// format of `qm44xx-ctl telemetry --csv` (the same header and columns for the
// chip, ISO 8601 UTC times), each row flushed to the file at once. A row that
// cannot be written (disk full, file too large, file removed) ends the
// recording; the poll and the window go on.
#pragma once

#include "device/telemetry_format.h"

#include <QFile>
#include <QObject>
#include <memory>

class TelemetryRecorder : public QObject {
    Q_OBJECT
public:
    explicit TelemetryRecorder(QObject *parent = nullptr);
    ~TelemetryRecorder() override;

    // Starts a new file with the header for this many regulators; "" on success,
    // else why not (nothing is recording then). A special file (a device, a
    // pipe, a directory) is refused.
    QString start(const QString &path, int regulatorCount);
    void stop();
    bool recording() const { return file != nullptr; }
    QString path() const { return filePath; }
    long rows() const { return rowCount; }

    // One row; on a failure the recording stops and failed() tells why.
    void write(const TelemetrySample &sample);

Q_SIGNALS:
    void failed(const QString &reason);
    void stopped();

private:
    bool writeLine(const std::string &line);

    std::unique_ptr<QFile> file;
    QString filePath;
    long rowCount = 0;
};
