#include "app/file_choice.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QSettings>

namespace {
QString key(const QString &kind) {
    return QStringLiteral("folders/") + kind;
}

// The folder last used for this kind of file ("" : none yet), and its update.
QString lastFolder(const QString &kind) {
    return QSettings().value(key(kind)).toString();
}

void rememberFolder(const QString &kind, const QString &chosenFile) {
    QSettings().setValue(key(kind), QFileInfo(chosenFile).absolutePath());
}
} // namespace

void chooseFile(QWidget *parent, FileChoice choice, const QString &title, const QString &filter,
                const QString &kind, const std::function<QString(const QString &)> &act) {
    const QString folder = lastFolder(kind);
    const QString path = choice == FileChoice::Open
                             ? QFileDialog::getOpenFileName(parent, title, folder, filter)
                             : QFileDialog::getSaveFileName(parent, title, folder, filter);
    if (path.isEmpty())
        return;
    rememberFolder(kind, path);
    const QString problem = act(path);
    if (!problem.isEmpty())
        QMessageBox::warning(parent, title, problem);
}

QString specialFileRefusal(const QString &path) {
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return QCoreApplication::translate("FileChoice", "%1 is not a regular file").arg(path);
    return QString();
}

QString saveWholeFile(const QString &path, const QByteArray &bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QCoreApplication::translate("FileChoice", "cannot write %1: %2")
            .arg(path, file.errorString());
    return QString();
}
