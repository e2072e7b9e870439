#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Mutation testing by hand: puts one small fault (a unified diff, as `git diff` prints it) into the
# tree, rebuilds, runs the whole suite and puts the files back, whatever happens.
#   scripts/mutate.sh BUILD_DIR MUTANT.diff [ctest args]
#       one line: name, KILLED or SURVIVED, failed programs, failed functions, seconds
#   scripts/mutate.sh BUILD_DIR FOLDER [ctest args]
#       checks that the unchanged tree passes, then every FOLDER/*.diff in turn: a TSV table
# BUILD_DIR must be configured already (scripts/test.sh does that). Functions are named
# program::function, as the same test class can be built into two programs. The full output of
# each run is kept in BUILD_DIR/mutate-logs/NAME.log.
set -euo pipefail

[ $# -ge 2 ] || { sed -n '3,11p' "$0" >&2; exit 2; }
build=$(cd "$1" && pwd)
target=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
logs=$build/mutate-logs
mkdir -p "$logs"

# Runs the suite; prints the failed programs and functions, tab-separated. Fails if anything did.
run_suite() {
    local log=$1
    shift
    local rc=0
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure "$@") >>"$log" 2>&1 || rc=$?
    awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { program = $4 }
         /^(FAIL!|QFATAL) +: / { f = $3; sub(/\(.*/, "", f); sub(/.*::/, "", f)
                                 if (!seen[program "::" f]++) fns = fns sep program "::" f; sep = "," }
         /^The following tests FAILED:/ { failed = 1; next }
         failed && /^\t/ { p = $3 " " $4; progs = progs psep p; psep = "," }
         END { printf "%s\t%s", progs, fns }' "$log"
    return "$rc"
}

if [ -d "$target" ]; then
    printf 'mutant\tresult\tprograms\tfunctions\tseconds\n'
    log=$logs/unchanged.log
    : >"$log"
    if ! cmake --build "$build" -j2 >>"$log" 2>&1 || ! run_suite "$log" "$@" >/dev/null; then
        echo "the unchanged tree does not pass; see $log" >&2
        exit 2
    fi
    for mutant in "$target"/*.diff; do
        "$0" "$build" "$mutant" "$@" || [ $? -eq 1 ] || exit 2
    done
    exit 0
fi

[ -f "$target" ] || { echo "$target: no such mutant" >&2; exit 2; }
mutant=$(cd "$(dirname "$target")" && pwd)/$(basename "$target")
name=$(basename "$mutant" .diff)
log=$logs/$name.log
: >"$log"
mapfile -t files < <(git -C "$root" apply --numstat "$mutant" | cut -f3)
[ ${#files[@]} -gt 0 ] || { echo "$name: changes no file" >&2; exit 2; }
git -C "$root" diff --quiet HEAD -- "${files[@]}" \
    || { echo "$name: ${files[*]} already changed; refusing" >&2; exit 2; }
git -C "$root" apply --check "$mutant" || { echo "$name: does not apply" >&2; exit 2; }

# Put back what the mutant changed, also after Ctrl-C; the next build recompiles it.
restore() { git -C "$root" checkout -q HEAD -- "${files[@]}"; }
trap restore EXIT
trap 'exit 130' INT TERM
git -C "$root" apply "$mutant"

start=$SECONDS
if ! cmake --build "$build" -j2 >>"$log" 2>&1; then
    printf '%s\tKILLED\tcompiler\t\t%d\n' "$name" $((SECONDS - start))
    exit 0
fi
if found=$(run_suite "$log" "$@"); then
    printf '%s\tSURVIVED\t%s\t%d\n' "$name" "$found" $((SECONDS - start))
    exit 1
fi
printf '%s\tKILLED\t%s\t%d\n' "$name" "$found" $((SECONDS - start))
