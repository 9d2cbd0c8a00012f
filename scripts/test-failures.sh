#!/usr/bin/env bash
# Prints, after a failed ctest run, each failed test's failure messages and
# nothing else: the place, and the first lines of what it expected. They come
# last, where a log cut short in its middle still shows them.
#
#   test-failures.sh <build directory>
set -uo pipefail

dir="$1/Testing/Temporary"
[ -s "$dir/LastTestsFailed.log" ] || exit 0
echo "==== failure messages of the failed tests ===="
awk -F: 'NR == FNR { failed[substr($0, index($0, ":") + 1)] = 1; next }
	/^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); name = $0; shown = 0; next }
	!(name in failed) { next }
	/: Failure$/ { if (!shown++) print "---- " name; left = 5 }
	left > 0 { print substr($0, 1, 300); --left }' "$dir/LastTestsFailed.log" "$dir/LastTest.log"
