#!/bin/sh
# Builds the benchmarks in Release (build-release/) and runs them, printing the
# figures with the machine they came from. Arguments go to Google Benchmark,
# e.g. ./tools/bench.sh --benchmark_filter=registerRead --benchmark_repetitions=5
#
#   qm44xx-bench         the link exchanges, the polling tick, storing a log line,
#                        start-up to the window shown, qm44xx-server's SCPI
#                        queries, commands with 16 clients and scrapes
#   qm44xx-bench-memory  the peak memory of an hour of logging, alone in its process
#   qm44xx-bench-plot    the telemetry plot's update, and the tick with the plot open
#                        and a recording running
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/lib.sh"
qm_install $QM_PACKAGES
qm_build build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQM_BENCH=ON
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores," \
    "load average $(cut -d ' ' -f 1-3 /proc/loadavg)"
for bench in qm44xx-bench qm44xx-bench-memory qm44xx-bench-plot; do
    "$ROOT/build-release/bench/$bench" "$@"
done
