// Shared by the benchmark programs: clean-ups that must run while the
// QApplication still exists (windows kept across benchmark runs).
#pragma once

#include <functional>

// Runs f after the last benchmark, before the application object goes.
void atBenchmarksEnd(std::function<void()> f);
