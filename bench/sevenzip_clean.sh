#!/bin/bash
# The 7-Zip way of cleaning a tree, for comparison: test every archive (7zz t), set
# the damaged ones aside as NAME.bad, and delete the purge-list entries from the
# others (7zz d). The test lists the entries it checked, so 7zz d runs only on an
# archive that holds one of the names: 7-Zip rewrites an archive even when nothing
# matches, and Info-ZIP's zip -d does not.
#   sevenzip_clean.sh TREE PURGE_EXACT   (PURGE_EXACT: one entry name a line, exact case)
set -u
tree=$1
mapfile -t patterns < "$2"
find "$tree" -name '.*' -prune -o -type f -iname '*.zip' -print0 |
while IFS= read -r -d '' z; do
    if listed=$(7zz t -tzip -bb1 -bd -bsp0 -bse0 -- "$z" 2>/dev/null); then
        hits=()
        for p in "${patterns[@]}"; do
            grep -qxF -- "T $p" <<<"$listed" && hits+=("$p")
        done
        if ((${#hits[@]})); then
            7zz d -tzip -ssc -bd -bso0 -bsp0 -bse0 -- "$z" "${hits[@]}"
        fi
    else
        mv -f -- "$z" "$z.bad"
    fi
done
exit 0
