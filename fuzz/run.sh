#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs each fuzz target for a bounded time from its committed seed corpus.
#   fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]
# New inputs go to a scratch corpus, never into the repository. On a crash or a broken
# property the reproducer is printed (hex) so the CI log alone is enough to replay it.
set -uo pipefail
build=$(cd "${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]}" && pwd) || exit 2
seconds=${2:-30}
shift $(( $# >= 2 ? 2 : 1 ))
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(bound value_frame identifier settings frame_decoder)

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/../tests/sanitizers/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=offscreen

failed=0
for target in "${targets[@]}"; do
    work=$(mktemp -d)
    echo "== fuzz_$target for ${seconds}s"
    mkdir -p "$work/corpus"
    (cd "$work" && "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/corpus" "$here/corpus/$target" 2>&1 | tail -n 40)
    found=0
    for artifact in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
        [ -e "$artifact" ] || continue
        found=1
        echo "!! fuzz_$target: reproducer $(basename "$artifact") ($(stat -c %s "$artifact") bytes):"
        od -A d -t x1 -v "$artifact"
        mkdir -p "$build/fuzz-artifacts" && cp "$artifact" "$build/fuzz-artifacts/fuzz_$target-$(basename "$artifact")"
    done
    [ $found -eq 0 ] || failed=1
    rm -rf "$work"
done
exit $failed
