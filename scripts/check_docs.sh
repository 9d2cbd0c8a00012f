#!/usr/bin/env bash
# Every file path docs/architecture.md names in backticks exists: prints each
# that does not and exits 1 then. A path is a backticked word of letters,
# digits and `_ . - /` with a slash in it (not at its start), or a file name
# ending in .h, .cpp, .md, .sh or .cmake (taken from the repository's root).
# Usage: scripts/check_docs.sh <repo-root>
set -euo pipefail
root=${1:?usage: scripts/check_docs.sh <repo-root>}
doc="$root/docs/architecture.md"
if [ ! -f "$doc" ]; then
    echo "docs/architecture.md"
    exit 1
fi
missing=0
while IFS= read -r path; do
    if [ ! -e "$root/$path" ]; then
        echo "$path"
        missing=1
    fi
done < <(grep -o '`[^`]*`' "$doc" | tr -d '`' |
         grep -E '^[A-Za-z0-9_.-]+(/[A-Za-z0-9_.-]*)+$|^[A-Za-z0-9_.-]+\.(h|cpp|md|sh|cmake)$' | sort -u || true)
exit "$missing"
