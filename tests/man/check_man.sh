#!/bin/sh
# The manual pages render without a warning, and the converter's lists every option of its
# --help. Arguments: the converter, then the pages.
set -eu
cli=$1
shift
if ! command -v groff >/dev/null 2>&1; then
    echo "groff is not installed" >&2
    exit 77
fi
status=0
for page in "$@"; do
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "$page: $warnings" >&2
        status=1
    fi
done
# Every long option --help shows must appear in the converter's page (written \-\-name).
for option in $("$cli" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    escaped=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
    if ! grep -q -- "$escaped" "$1"; then
        echo "$1 does not describe $option" >&2
        status=1
    fi
done
exit $status
