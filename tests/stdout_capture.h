// Captures what a piece of code writes to standard output (the transport's
// trace goes there) or to standard error.
#pragma once

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <unistd.h>

// What f writes to the stream (stdout or stderr) whose descriptor is fd.
inline std::string captureOutput(FILE *stream, int fd, const std::function<void()> &f) {
    std::fflush(stream);
    std::cout.flush();
    std::cerr.flush();
    FILE *file = std::tmpfile();
    const int saved = dup(fd);
    dup2(fileno(file), fd);
    f();
    std::fflush(stream);
    std::cout.flush();
    std::cerr.flush();
    dup2(saved, fd);
    close(saved);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text.push_back(char(c));
    std::fclose(file);
    return text;
}

inline std::string captureStdout(const std::function<void()> &f) {
    return captureOutput(stdout, STDOUT_FILENO, f);
}

inline std::string captureStderr(const std::function<void()> &f) {
    return captureOutput(stderr, STDERR_FILENO, f);
}
