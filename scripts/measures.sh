#!/usr/bin/env bash
# Prints the measures of the code's shape, one "[measure]" line each:
#  - classes whose member functions are defined in more than 2 .cpp files;
#  - source files over 500 lines;
#  - class names defined in both plugin/ and outpost/;
#  - where addRef is defined, per program;
#  - files clang-format would change (when clang-format and .clang-format
#    are there).
# It reports; it does not judge. Run from anywhere: scripts/measures.sh
set -uo pipefail
cd "$(dirname "$0")/.."

sources() { git ls-files -- "$@" | grep -E '\.(cpp|h)$'; }
dirs=(plugin outpost protocol served tools log sdk tests bench)

# Member function definitions start a line: "... Class::member (" at column 0.
spread=$(sources "${dirs[@]}" | grep '\.cpp$' | xargs perl -ne '
    next if /^\s/ || /;\s*$/;
    # The first such name is the definition; later ones are calls in its body.
    if (/\b([A-Z]\w*)::(~?\w+|operator\S+)\s*\(/) { $files{$1}{$ARGV} = 1 }
    END { for $c (sort keys %files) { @f = sort keys %{$files{$c}}; print "$c: @f\n" if @f > 2 } }')
echo "[measure] classes defined in more than 2 .cpp files: $(printf '%s' "$spread" | grep -c . )"
[ -n "$spread" ] && printf '%s\n' "$spread" | sed 's/^/    /'

long=$(sources "${dirs[@]}" | xargs wc -l | awk '$2 != "total" && $1 > 500 { print $2 " (" $1 ")" }')
echo "[measure] files over 500 lines: $(printf '%s' "$long" | grep -c . )"
[ -n "$long" ] && printf '%s\n' "$long" | sed 's/^/    /'

classes() { sources "$1" | xargs perl -ne 'print "$1\n" if /^\s*(?:class|struct)\s+(?:\w+\s+)?([A-Z]\w*)\b[^;]*$/' | sort -u; }
both=$(comm -12 <(classes plugin) <(classes outpost))
echo "[measure] class names defined in both plugin/ and outpost/: $(printf '%s' "$both" | grep -c . )"
[ -n "$both" ] && printf '    %s\n' $both

for program in plugin outpost served; do
    defs=$(sources "$program" sdk | xargs grep -lP '^\S.*::addRef\s*\(\)\s*(\{.*)?$|addRef\s*\(\)\s*(SMTG_OVERRIDE|override)?\s*\{' 2>/dev/null)
    echo "[measure] files defining addRef for $program/: $(printf '%s' "$defs" | grep -c . )"
    [ -n "$defs" ] && printf '    %s\n' $defs
done

if command -v clang-format >/dev/null && [ -f .clang-format ]; then
    unformatted=$(scripts/check_style.sh . | sed 's/^not formatted as .clang-format says: //')
    echo "[measure] files clang-format would change: $(printf '%s' "$unformatted" | grep -c . )"
    [ -n "$unformatted" ] && printf '    %s\n' $unformatted
fi
exit 0
