#!/bin/bash
# The Info-ZIP way of cleaning a tree, for comparison: test every archive, set the
# damaged ones aside as NAME.bad, delete the purge-list entries from the others.
#   infozip_clean.sh TREE PURGE_EXACT   (PURGE_EXACT: one entry name a line, exact case)
set -u
tree=$1
mapfile -t patterns < "$2"
find "$tree" -name '.*' -prune -o -type f -iname '*.zip' -print0 |
while IFS= read -r -d '' z; do
    if unzip -tqq "$z" >/dev/null 2>&1; then
        zip -dq "$z" "${patterns[@]}" >/dev/null 2>&1  # exit 12: nothing to delete
    else
        mv -f -- "$z" "$z.bad"
    fi
done
exit 0
