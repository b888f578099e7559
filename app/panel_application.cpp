#include "app/panel_application.h"

#include <QIcon>
#include <exception>
#include <string>

void PanelApplication::describeProgram() {
    setOrganizationName(QStringLiteral("qm44xx"));
    setApplicationName(QStringLiteral("qm44xx-panel"));
    setApplicationVersion(QStringLiteral(QM_VERSION));
    // The installed desktop entry's name (io.github.qm44xx.panel.desktop), so that
    // the desktop matches the window to its entry and icon.
    setDesktopFileName(QStringLiteral("io.github.qm44xx.panel"));
}

PanelApplication::PanelApplication(int &argc, char **argv) : QApplication(argc, argv) {
    setWindowIcon(QIcon(QStringLiteral(":/resources/src/img/qm44xx.png")));
}

bool PanelApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::string &text) {
        fail(QString::fromUtf8(text.data(), int(text.size())));
    } catch (const std::exception &error) {
        fail(QString::fromUtf8(error.what()));
    }
    return false;
}

void PanelApplication::fail(const QString &text) {
    if (hasFailed)
        return; // the first failure is the one the user is told about
    hasFailed = true;
    failureText = text;
    exit(0);
}
