#!/bin/sh
# Builds the libFuzzer targets with clang and runs each one for a bounded time, seeded with
# the conformance and crasher pictures (the settings readers with small files of their own).
# Exits non-zero if any target fails; the failing inputs are left under
# <build>/fuzz-artifacts/<target>/.
#
#   fuzz/run.sh [seconds per target]          (default 60)
#
# NOLVI2_FUZZ_BUILD  build folder (default build-fuzz in the checkout)
# NOLVI2_TESTDATA_DIR  the test pictures (default ../shared/testdata next to the checkout)
set -eu

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NOLVI2_FUZZ_BUILD:-$root/build-fuzz}
testdata=${NOLVI2_TESTDATA_DIR:-$root/../shared/testdata}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DNOLVI2_FUZZ=ON -DNOLVI2_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

# The seed folders of a target (those that exist are used).
seeds() {
    case $1 in
    fuzz_bmp)
        echo "$testdata/bmpsuite/g $testdata/bmpsuite/q $testdata/bmpsuite/b $testdata/bmpsuite/x"
        echo "$testdata/crashers-corrupt/bmp $root/tests/platform/bmp-regressions"
        ;;
    fuzz_png)
        echo "$testdata/pngsuite $testdata/crashers-corrupt/png $root/tests/png/png-regressions"
        ;;
    fuzz_jpeg)
        echo "$testdata/libjpeg-turbo-testimages $testdata/crashers-corrupt/jpeg $root/tests/platform/jpeg-regressions"
        ;;
    fuzz_ini | fuzz_keystore | fuzz_history)
        echo "$root/tests/settings/fuzz-seeds/${1#fuzz_}"
        ;;
    fuzz_state)
        echo "$root/tests/app/fuzz-seeds/state"
        ;;
    fuzz_spi_*)
        echo "$root/tests/plugins/fuzz-seeds/${1#fuzz_spi_}"
        ;;
    esac
}

# Leaks of the system's libraries are not failures of ours.
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

status=0
for target in "$build"/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    dirs=""
    for d in $(seeds "$name"); do
        [ -d "$d" ] && dirs="$dirs $d"
    done
    corpus=$(mktemp -d)
    artifacts="$build/fuzz-artifacts/$name"
    mkdir -p "$artifacts"
    echo "== $name for ${seconds}s"
    # The fresh corpus comes first: new inputs go there, the seed folders stay untouched.
    # shellcheck disable=SC2086
    if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" $dirs; then
        echo "== $name FAILED: see $artifacts" >&2
        status=1
    fi
    rm -rf "$corpus"
done
exit $status
