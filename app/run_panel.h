// The panel program: options, the window, and the one place where a failure of
// the board link becomes a message for the user.
#pragma once

#include "link/clock.h"

// Options (app/panel_options.h): --help, --version, --simulate[=MODEL],
// --exit-when-shown (ends the program as soon as the window has been painted
// once, for start-up measurements), and Qt's own. Returns the event loop's
// result after a normal end, 0 after --help, --version or a failure shown as
// "Unable to connect: ..." (also written to standard error), and 1 for a bad
// option (with the usage on standard error) or when there is no display.
// The window and the board wait on `clock` (tests hand in one that does not wait).
int runPanel(int &argc, char **argv, const Clock &clock = systemClock());
