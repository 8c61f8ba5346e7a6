#!/usr/bin/env bash
# The man pages: groff finds nothing to warn about, man renders them without a warning, and
# no rendered line leaves a bracket open (a tag such as "read-cards [--count N]" broken over
# two lines). Exit code 77 (skipped) without groff or man.
# Usage: man_lint.sh MAN_PAGE...
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
e2e_need groff man

status=0
for page in "$@"; do
    name=$(basename "$page")
    warnings=$(groff -ww -z -man "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "FAIL: $name: groff: $warnings"
        status=1
    fi
    rendered=$(MANWIDTH=80 MAN_KEEP_FORMATTING= LC_ALL=C.UTF-8 man --warnings -l "$page" 2>"${TMPDIR:-/tmp}/man_lint.$$")
    if [ -s "${TMPDIR:-/tmp}/man_lint.$$" ]; then
        echo "FAIL: $name: man: $(cat "${TMPDIR:-/tmp}/man_lint.$$")"
        status=1
    fi
    rm -f "${TMPDIR:-/tmp}/man_lint.$$"
    open=$(awk '{ o = gsub(/\[/, "["); c = gsub(/\]/, "]"); if (o > c) print NR ": " $0 }' \
        <<<"$rendered")
    if [ -n "$open" ]; then
        echo "FAIL: $name: a line leaves a bracket open:"
        echo "$open"
        status=1
    fi
done
[ $status -eq 0 ] && echo "man pages: $# checked"
exit $status
