// Captures what a piece of code writes to standard output (the transport's
// trace goes there).
#pragma once

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <unistd.h>

inline std::string captureStdout(const std::function<void()> &f) {
    std::fflush(stdout);
    std::cout.flush();
    FILE *file = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(file), STDOUT_FILENO);
    f();
    std::fflush(stdout);
    std::cout.flush();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text.push_back(char(c));
    std::fclose(file);
    return text;
}
