#!/usr/bin/env bash
# Fails, naming the files, when clang-format (with the repository's .clang-format) would change
# any tracked C++ source. `make format` rewrites them.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
    echo "format-check: clang-format is not installed (apt-get install clang-format)" >&2
    exit 2
fi
failed=()
while IFS= read -r file; do
    if ! clang-format --dry-run -Werror "$file" >/dev/null 2>&1; then
        failed+=("$file")
    fi
done < <(git ls-files '*.cpp' '*.h')
if [ ${#failed[@]} -ne 0 ]; then
    printf 'format-check: not formatted: %s\n' "${failed[@]}" >&2
    exit 1
fi
echo "format-check: every tracked C++ file is formatted"
