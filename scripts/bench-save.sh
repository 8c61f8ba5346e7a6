#!/usr/bin/env bash
# Keeps the latest `make bench` run: copies build/bench.json to docs/bench.json and writes its
# header and table into README.md between the two bench marker lines, so that README's table
# and the saved figures are always one run. Run it after a run on an idle machine.
#   bench-save.sh [BUILD_FOLDER]   (default build/release, where kt4500-bench is)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case $build in /*) ;; *) build=$root/$build ;; esac
bench=$build/kt4500-bench
run=$root/build/bench.json
saved=$root/docs/bench.json
readme=$root/README.md
begin='<!-- bench table: written by `make bench-save` from docs/bench.json, not by hand -->'
end='<!-- end of bench table -->'

if [ ! -s "$run" ]; then
    echo "bench-save: there is no build/bench.json; 'make bench' measures one" >&2
    exit 1
fi
if [ ! -x "$bench" ]; then
    echo "bench-save: $bench is missing; 'make bench' builds it" >&2
    exit 1
fi
if [ "$(grep -cxF -e "$begin" -e "$end" "$readme")" -ne 2 ]; then
    echo "bench-save: README.md lacks the two bench marker lines:" >&2
    printf '  %s\n' "$begin" "$end" >&2
    exit 1
fi

# The table is made first: a file that is not a run is refused before anything is replaced.
table=$(mktemp)
trap 'rm -f "$table" "$table.readme"' EXIT
"$bench" --table "$run" >"$table"
cp "$run" "$saved"
awk -v begin="$begin" -v end="$end" -v table="$table" '
    $0 == begin { print; print ""; while ((getline line < table) > 0) print line; print ""; skip = 1; next }
    $0 == end { skip = 0 }
    !skip { print }
' "$readme" >"$table.readme"
cat "$table.readme" >"$readme"
echo "bench-save: docs/bench.json and README's table are now the run of $(head -n 1 "$table" | sed 's/^Measured //')"
