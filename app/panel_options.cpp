#include "app/panel_options.h"

#include "device/chip_table.h"
#include "sim/simulation.h"

#include <QCoreApplication>

PanelCommandLine::PanelCommandLine()
    : helpOption({QStringLiteral("h"), QStringLiteral("help")},
                 QStringLiteral("Show this help and exit.")),
      versionOption({QStringLiteral("v"), QStringLiteral("version")},
                    QStringLiteral("Show the version and exit.")),
      simulateOption(QStringLiteral("simulate"),
                     QStringLiteral("Use a simulated board; --simulate=MODEL chooses its chip "
                                    "(%1; default %2).")
                         .arg(QString::fromStdString(chipModelNames()),
                              QString::fromLatin1(DEFAULT_SIMULATED_MODEL))),
      exitWhenShownOption(QStringLiteral("exit-when-shown"),
                          QStringLiteral("End as soon as the window has been painted once "
                                         "(for start-up measurements).")),
      deviceOption(QStringLiteral("device"),
                   QStringLiteral("Open the bridge at PATH (as 'qm44xx-ctl list' shows it, e.g. "
                                  "/dev/hidraw3) instead of the first one found."),
                   QStringLiteral("PATH")) {
    parser.setApplicationDescription(
        QStringLiteral("Control panel for the QM44xxC evaluation board: powers and identifies\n"
                       "the regulator, sets its outputs, shows telemetry and faults, and logs\n"
                       "every bus transaction. Qt's own options (such as -platform NAME or\n"
                       "-style NAME) are accepted too."));
    // Qt's options are single-dash words (-platform): never read them as a
    // cluster of one-letter options such as -p -l -a ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    parser.addOption(simulateOption);
    parser.addOption(exitWhenShownOption);
    parser.addOption(deviceOption);
}

bool PanelCommandLine::read(const QStringList &arguments, PanelOptions &options, QString &error,
                            bool qtOptionsPresent) {
    options = PanelOptions();
    error.clear();
    // --simulate takes an optional value, which QCommandLineParser cannot
    // express: "--simulate=MODEL" is read here and handed on as "--simulate".
    QStringList plain;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        optionsEnded = optionsEnded || argument == QLatin1String("--");
        std::string model, modelError;
        if (i > 0 && !optionsEnded &&
            parseSimulateArgument(argument.toStdString(), model, modelError)) {
            if (!modelError.empty() && error.isEmpty())
                error = QString::fromStdString(modelError);
            options.models.push_back(model);
            plain << QStringLiteral("--simulate");
        } else {
            plain << argument;
        }
    }
    const bool parsed = parser.parse(plain);
    options.help = parser.isSet(helpOption);
    options.version = parser.isSet(versionOption);
    options.exitWhenShown = parser.isSet(exitWhenShownOption);
    options.device = parser.value(deviceOption).toStdString();
    if (!error.isEmpty())
        return false;
    if (qtOptionsPresent)
        return true;
    if (!parsed) {
        error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments()[0]);
        return false;
    }
    return true;
}

QString PanelCommandLine::helpText() const {
    return parser.helpText();
}

QString PanelCommandLine::versionText() {
    return QCoreApplication::applicationName() + QLatin1Char(' ') +
           QCoreApplication::applicationVersion();
}
