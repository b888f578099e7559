// Asking the user for a file, as every bench window does: the dialog opens in
// the folder last used for that kind of file (remembered in QSettings), and
// what is done with the choice reports its problem in a warning box.
#pragma once

#include <QString>
#include <functional>

class QWidget;

enum class FileChoice { Open, Save };

// kind names the remembered folder ("settings", "recording", "export").
// act returns "" on success or the problem to show.
void chooseFile(QWidget *parent, FileChoice choice, const QString &title, const QString &filter,
                const QString &kind, const std::function<QString(const QString &)> &act);
