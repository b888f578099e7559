// The panel program: options, the window, and the one place where a failure of
// the board link becomes a message for the user.
#pragma once

#include "link/clock.h"

// Options: --simulate[=MODEL]; --exit-when-shown ends the program as soon as the
// window has been painted once (start-up measurements, tools/bench.sh).
// Returns the event loop's result after a normal end, 0 after a failure shown
// as "Unable to connect: ...", and 1 for a bad option or when there is no display.
// The window and the board wait on `clock` (tests hand in one that does not wait).
int runPanel(int &argc, char **argv, const Clock &clock = systemClock());
