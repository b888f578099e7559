#!/bin/sh
# Every check of the project, in stages run in order; each stage installs what
# it is missing and builds its own directory (once per run).
#
#   unit   the ordinary build (build/) and its whole ctest suite, the checks of
#          the Debian package, manual pages, completion and desktop files included
#   asan   the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#          (build-asan/); any sanitizer report fails it. The virtual-machine test
#          runs in the unit stage only: its programs run inside the VM, not here.
#   fuzz   every libFuzzer target for a bounded time (build-fuzz/, clang-14)
#
#   ./tools/test.sh              all stages
#   ./tools/test.sh unit asan    only the stages named
#
# To add a stage: write a stage_NAME function below and add NAME to STAGES.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/lib.sh"

STAGES="unit asan fuzz"

stage_unit() {
    qm_install $QM_PACKAGES $QM_VM_PACKAGES $QM_PACKAGING_PACKAGES
    qm_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DQM_BENCH=ON \
        -DQM_MAN_PAGES=ON
    qm_ctest build
}

stage_asan() {
    qm_install $QM_PACKAGES
    qm_build build-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_BENCH=OFF
    # The instrumented tests are CPU-bound: one at a time per core.
    QM_CTEST_JOBS=$(nproc) qm_ctest build-asan -LE vm
}

# Seconds each fuzz target runs (a CMake cache value of build-fuzz/).
QM_FUZZ_SECONDS=${QM_FUZZ_SECONDS:-30}

stage_fuzz() {
    qm_install $QM_PACKAGES clang-14 libclang-rt-14-dev
    qm_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
        -DQM_FUZZ=ON -DQM_FUZZ_SECONDS="$QM_FUZZ_SECONDS"
    QM_CTEST_JOBS=$(nproc) qm_ctest build-fuzz -L fuzz
}

[ $# -gt 0 ] || set -- $STAGES
for stage in "$@"; do
    case " $STAGES " in
    *" $stage "*) ;;
    *)
        echo "test.sh: unknown stage \"$stage\" (stages: $STAGES)" >&2
        exit 2
        ;;
    esac
done

current=""
summary=""
trap '[ -z "$current" ] || echo "test.sh: stage $current FAILED" >&2' EXIT
for stage in "$@"; do
    current=$stage
    echo "=== stage $stage"
    started=$(date +%s)
    "stage_$stage"
    summary="$summary
  $stage: $(($(date +%s) - started)) s"
done
current=""
echo "=== all stages passed:$summary"
