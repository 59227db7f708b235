#!/bin/sh
# A fuzzing campaign: builds the libFuzzer targets with clang (AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each one for a bounded time or number of inputs,
# seeded with the folders that fuzz/seeds.txt gives it and with the corpus it kept from the
# campaigns before. Exits non-zero if any target fails. (The test suite does not fuzz: it
# replays the seed and regression folders through every target, ctest -R '^fuzz\.'.)
#
#   fuzz/run.sh [SECONDS] [TARGET...]       each target for SECONDS (default 60)
#   fuzz/run.sh --runs N [TARGET...]        each target for N inputs (libFuzzer's -runs=N)
#
# TARGET is a name such as fuzz_png or png; all targets when none is given.
#
# The corpus: what a campaign finds is kept OUTSIDE the repository, in
# $NOLVI2_FUZZ_CORPUS/<target> (default ~/.cache/nolvi2-fuzz/<target>). Each run fuzzes into
# a fresh folder, seeded with the kept corpus and the seed folders, then merges into the kept
# corpus the inputs that reach code it did not reach (libFuzzer's -merge=1). Delete the folder
# to start afresh.
#
# A failure: the input is left under <build>/fuzz-artifacts/<target>/ (crash-*, leak-*,
# timeout-*, oom-*). Mend the reader, then copy the input into the target's regression folder
# (the last folder of its lines in fuzz/seeds.txt: tests/platform/bmp-regressions,
# tests/platform/jpeg-regressions, tests/png/png-regressions,
# tests/settings/fuzz-regressions/<name>, tests/app/fuzz-regressions/state,
# tests/plugins/fuzz-regressions/<format>) under a name that says what it shows, and say so in
# that folder's README.md. The test suite replays every file there on every run
# (ctest -R '^fuzz\.'), and the next campaigns start from it.
#
# NOLVI2_FUZZ_BUILD    build folder (default build-fuzz in the checkout)
# NOLVI2_FUZZ_CORPUS   the kept corpora (default ${XDG_CACHE_HOME:-~/.cache}/nolvi2-fuzz)
# NOLVI2_TESTDATA_DIR  the test pictures (default ../shared/testdata next to the checkout)
set -eu

option=-max_total_time
value=60
case "${1:-}" in
--runs)
    [ $# -ge 2 ] || { echo "usage: fuzz/run.sh --runs N [TARGET...]" >&2; exit 2; }
    option=-runs value=$2
    shift 2
    ;;
--runs=*)
    option=-runs value=${1#--runs=}
    shift
    ;;
'' | *[!0-9]*) ;;
*)
    value=$1
    shift
    ;;
esac
case "$value" in
'' | *[!0-9]*) echo "fuzz/run.sh: not a number: $value" >&2; exit 2 ;;
esac
limit="$option=$value"
if [ "$option" = -runs ]; then what="$value inputs"; else what="$value s"; fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=${NOLVI2_FUZZ_BUILD:-$root/build-fuzz}
testdata=${NOLVI2_TESTDATA_DIR:-$root/../shared/testdata}
corpora=${NOLVI2_FUZZ_CORPUS:-${XDG_CACHE_HOME:-$HOME/.cache}/nolvi2-fuzz}

"$root/scripts/install-deps.sh" fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DNOLVI2_FUZZ=ON -DNOLVI2_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

# The seed folders of a target, from fuzz/seeds.txt (testdata/... under the test pictures).
seeds() {
    while read -r name folder; do
        [ "$name" = "$1" ] || continue
        case $folder in
        testdata/*) echo "$testdata/${folder#testdata/}" ;;
        *) echo "$root/$folder" ;;
        esac
    done <"$root/fuzz/seeds.txt"
}

# Leaks of the system's libraries are not failures of ours.
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

targets=""
if [ $# -eq 0 ]; then
    for target in "$build"/fuzz/fuzz_*; do
        [ -f "$target" ] && [ -x "$target" ] && targets="$targets $target"
    done
else
    for name in "$@"; do
        target="$build/fuzz/fuzz_${name#fuzz_}"
        [ -x "$target" ] || { echo "fuzz/run.sh: no fuzz target $name in $build/fuzz" >&2; exit 2; }
        targets="$targets $target"
    done
fi

status=0
for target in $targets; do
    name=$(basename "$target")
    dirs=""
    for d in $(seeds "$name"); do
        [ -d "$d" ] && dirs="$dirs $d"
    done
    corpus="$corpora/$name"
    mkdir -p "$corpus"
    fresh=$(mktemp -d)
    artifacts="$build/fuzz-artifacts/$name"
    mkdir -p "$artifacts"
    echo "== $name for $what (corpus $corpus: $(find "$corpus" -type f | wc -l) inputs)"
    # The fresh folder comes first: new inputs go there; the kept corpus and the seed folders
    # stay untouched until the merge.
    # shellcheck disable=SC2086
    if ! "$target" "$limit" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$fresh" "$corpus" $dirs; then
        echo "== $name FAILED: see $artifacts; the input goes into the last folder of $name in fuzz/seeds.txt" >&2
        status=1
    fi
    if [ -n "$(ls -A "$fresh")" ]; then
        "$target" -merge=1 -rss_limit_mb=2048 -timeout=10 "$corpus" "$fresh" >"$fresh.merge.log" 2>&1 || {
            tail -n 20 "$fresh.merge.log" >&2
            echo "== $name: merging the new inputs into $corpus FAILED" >&2
            status=1
        }
        rm -f "$fresh.merge.log"
    fi
    rm -rf "$fresh"
    echo "== $name: $(find "$corpus" -type f | wc -l) inputs kept in $corpus"
done
exit $status
