#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that every relative link and #anchor in the README, the manual (docs/*.md) and the other
# READMEs, or in the Markdown files named as arguments, points at a file that exists and, for an anchor, at a heading
# of that file. Anchors are made from headings as GitHub makes them: the heading's text lowercased,
# punctuation dropped (letters of any script, digits, '_' and '-' stay), each space a '-', and
# '-1', '-2', ... after a repeated one. Links inside code (fenced blocks, `spans`) are not links.
# Prints each broken link as FILE:LINE: TARGET: why, and exits 1 if there was one.
set -euo pipefail
cd "$(dirname "$0")/.."
# Character classes must know letters beyond ASCII (a Chinese heading keeps its characters).
export LC_ALL=C.UTF-8

if [ $# -eq 0 ]; then
    set -- README.md docs/*.md examples/firmware/README.md tests/mutants/README.md
fi

# The anchors of one Markdown file, one a line.
anchors() {
    awk '/^[ \t]*(```|~~~)/ { fenced = !fenced; next } !fenced && /^##*[ \t]/' "$1" |
        sed -E 's/^#+[ \t]+//; s/[ \t]+#+[ \t]*$//; s/[ \t]+$//' |
        sed -E 's/!?\[([^]]*)\]\([^)]*\)/\1/g; s/<[^>]*>//g' |
        sed -E 's/[^[:alnum:]_ -]//g; s/.*/\L&/; s/ /-/g' |
        awk '{ n = seen[$0]++; print (n ? $0 "-" n : $0) }'
}

broken=0
report() {
    printf '%s:%s: %s: %s\n' "$1" "$2" "$3" "$4" >&2
    broken=1
}

for file in "$@"; do
    if [ ! -f "$file" ]; then
        report "$file" 0 "$file" "no such file"
        continue
    fi
    dir=$(dirname "$file")
    # Each link as LINE<TAB>TARGET, outside fenced code and with code spans removed first.
    while IFS=$'\t' read -r line target; do
        case $target in
            *://* | mailto:*) continue ;;
        esac
        path=${target%%#*}
        anchor=
        [[ $target == *'#'* ]] && anchor=${target#*#}
        if [ -z "$path" ]; then
            resolved=$file
        else
            resolved=$dir/$path
            if [ ! -e "$resolved" ]; then
                report "$file" "$line" "$target" "no such file"
                continue
            fi
        fi
        if [ -n "$anchor" ]; then
            if [ ! -f "$resolved" ] || [[ $resolved != *.md ]]; then
                report "$file" "$line" "$target" "an anchor into a file that is not Markdown"
            elif ! anchors "$resolved" | grep -qxF -- "$anchor"; then
                report "$file" "$line" "$target" "no heading makes this anchor"
            fi
        fi
    done < <(awk '/^[ \t]*(```|~~~)/ { fenced = !fenced; next }
        !fenced {
            text = $0
            gsub(/`[^`]*`/, "", text)
            while (match(text, /\]\([^) \t]+/)) {
                print NR "\t" substr(text, RSTART + 2, RLENGTH - 2)
                text = substr(text, RSTART + RLENGTH)
            }
        }' "$file")
done

if [ "$broken" -ne 0 ]; then
    echo "check-links: broken links above" >&2
    exit 1
fi
echo "check-links: every link and anchor in $# files resolves"
