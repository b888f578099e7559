// Asking the user for a file, as every bench window does: the dialog opens in
// the folder last used for that kind of file (remembered in QSettings), and
// what is done with the choice reports its problem in a warning box. With it,
// the checks and the writing every bench file goes through.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class QWidget;

enum class FileChoice { Open, Save };

// kind names the remembered folder ("settings", "recording", "export").
// act returns "" on success or the problem to show.
void chooseFile(QWidget *parent, FileChoice choice, const QString &title, const QString &filter,
                const QString &kind, const std::function<QString(const QString &)> &act);

// "PATH is not a regular file" for a path that names a folder, a pipe or a
// device (a pipe would block, a device never end); "" for a regular file or
// none.
QString specialFileRefusal(const QString &path);
// The bytes as the whole file, through a temporary file renamed at the end:
// an old file stays whole if the write fails. "" or "cannot write PATH: why".
QString saveWholeFile(const QString &path, const QByteArray &bytes);
