#!/usr/bin/env bash
# plotbars as the bench calls it: a table with the header line
# "group<TAB>series<TAB>value" becomes a PNG, on a log y axis too; a table
# it cannot read is an error that names the line, and writes no picture.
#
#   plotbars_test.sh <plotbars>
set -euo pipefail
plotbars=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

is_png() { [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]; }

printf 'group\tseries\tvalue\n1 @ 64\tfloor\t18\n1 @ 64\tbridge\t229\n4 @ 64\tbridge\t805.5\n' >"$scratch/good.tsv"
"$plotbars" "$scratch/good.tsv" "$scratch/good.png" --title "Chains" --ylabel "time (us)"
is_png "$scratch/good.png" || { echo "plotbars_test: no PNG written"; exit 1; }

# The bench's case: a noisy floor far above the chains, a bar of 0 among them.
printf 'group\tseries\tvalue\n1 @ 64\tfloor p99\t23000\n1 @ 64\tchain\t5.2\n4 @ 64\tchain\t0\n' >"$scratch/log.tsv"
"$plotbars" "$scratch/log.tsv" "$scratch/log.png" --ylabel "time (us)" --log-y ||
    { echo "plotbars_test: --log-y failed"; exit 1; }
is_png "$scratch/log.png" || { echo "plotbars_test: no PNG written for --log-y"; exit 1; }

printf 'group\tseries\tvalue\n1 @ 64\tfloor\tfast\n' >"$scratch/bad.tsv"
if "$plotbars" "$scratch/bad.tsv" "$scratch/bad.png" 2>"$scratch/err"; then
    echo "plotbars_test: a value that is no number was accepted"; exit 1
fi
grep -q 'bad.tsv:2:' "$scratch/err" || { echo "plotbars_test: the error does not name line 2"; cat "$scratch/err"; exit 1; }
[ ! -e "$scratch/bad.png" ] || { echo "plotbars_test: a picture was written for a bad table"; exit 1; }

printf 'series\tgroup\tvalue\n' >"$scratch/header.tsv"
if "$plotbars" "$scratch/header.tsv" "$scratch/header.png" 2>/dev/null; then
    echo "plotbars_test: a table without the header line was accepted"; exit 1
fi
echo "plotbars_test: ok"
