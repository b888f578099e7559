// qm44xx-server: every board of the host as a networked instrument.
#include "server/server.h"

#include <QCoreApplication>
#include <iostream>

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    server::Options options;
    std::string error;
    if (!server::parseOptions(arguments, options, error)) {
        std::cerr << "qm44xx-server: " << error
                  << "\nTry 'qm44xx-server --help' for more information.\n";
        return 1;
    }
    if (options.help) {
        std::cout << server::helpText();
        return 0;
    }
    if (options.version) {
        std::cout << server::versionText();
        return 0;
    }
    return server::run(options, std::cout, std::cerr);
}
