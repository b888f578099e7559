// qm44xx-ctl: the evaluation board from the command line (see ctl/README.md).
#include "ctl/ctl.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return ctl::run(arguments, std::cin, std::cout, std::cerr);
}
