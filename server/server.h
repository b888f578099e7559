// The qm44xx-server program as a function: its options, and the run that
// serves every board until the process is told to stop.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace server {

struct Options {
    std::vector<std::string> simulate; // models, one simulated board each
    std::vector<std::string> devices;  // bridge paths
    std::string listen = "127.0.0.1";
    int port = 5025; // the first board's; the next boards take the next ports; 0: free ones
    std::string metrics = "127.0.0.1:9825"; // "" when off
    int intervalMs = 1000;
    int maxClients = 8;
    int idleTimeoutS = 3600;
    bool readOnly = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program's name. False with error set for a
// usage error.
bool parseOptions(const std::vector<std::string> &arguments, Options &options, std::string &error);

std::string helpText();
std::string versionText();

// Runs the server (QCoreApplication must exist); the exit code. Lines saying
// where each board and the metrics are served go to out.
int run(const Options &options, std::ostream &out, std::ostream &err);

} // namespace server
