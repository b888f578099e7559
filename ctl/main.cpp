// qm44xx-ctl: the evaluation board from the command line (see ctl/README.md).
#include "ctl/ctl.h"

#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv) {
    // A reader that went away, or a file size limit, is an error the tool
    // reports (exit 1), not a signal that kills it mid-run.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // A standard stream closed by the caller must not be reused for the board's
    // node or a file: /dev/null stands in, opened so that writes to standard
    // output and error fail (and are reported) and standard input is empty.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDONLY) != fd)
            return 1;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return ctl::run(arguments, std::cin, std::cout, std::cerr);
}
