// The panel's command line, read with QCommandLineParser: --help, --version,
// --simulate[=MODEL] (repeated: several simulated boards), --device PATH and
// --exit-when-shown. Qt's own options (-platform NAME,
// -style NAME, ...) are taken by the application object; arguments are read
// again once it has removed them, so that only the panel's own remain.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

struct PanelOptions {
    bool help = false;
    bool version = false;
    std::vector<std::string> models; // every --simulate given, in order
    bool exitWhenShown = false;
    std::string device; // --device PATH: the bridge to open ("" : the first)
};

class PanelCommandLine {
public:
    PanelCommandLine();

    // Reads the arguments (the program's name first). False with `error` set
    // for an unknown option, an unexpected argument or an unknown chip model.
    // Before the application object exists, Qt's own options are still among
    // them: pass qtOptionsPresent to leave unknown options and stray arguments
    // alone.
    bool read(const QStringList &arguments, PanelOptions &options, QString &error,
              bool qtOptionsPresent = false);

    // Usage and options, for --help and after a bad option. Needs a
    // QCoreApplication (for the program's name as it was started).
    QString helpText() const;
    // "qm44xx-panel 0.1.0", from the application's name and version.
    static QString versionText();

private:
    QCommandLineParser parser;
    QCommandLineOption helpOption;
    QCommandLineOption versionOption;
    QCommandLineOption simulateOption;
    QCommandLineOption exitWhenShownOption;
    QCommandLineOption deviceOption;
};
