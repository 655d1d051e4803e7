#!/bin/sh
# check-export-list.sh DEF SOURCE: the names between "// exports:begin" and
# "// exports:end" in SOURCE (each the first text of its line, after a "{"
# where the list is a table) are exactly the names exported by DEF, in the
# same order.
set -eu
def=$1
src=$2
want=$(sed -e 's/;.*//' "$def" | awk 'NF && $1 != "EXPORTS" && $1 != "LIBRARY" {print $1}')
have=$(sed -n '/exports:begin/,/exports:end/p' "$src" | sed -n 's/^[[:space:]]*{\{0,1\}"\([A-Za-z0-9_]*\)",.*/\1/p')
if [ "$want" != "$have" ]; then
    echo "export list of $src differs from $def:"
    printf '%s\n' "$want" >"${TMPDIR:-/tmp}/qd-def.$$"
    printf '%s\n' "$have" >"${TMPDIR:-/tmp}/qd-src.$$"
    diff "${TMPDIR:-/tmp}/qd-def.$$" "${TMPDIR:-/tmp}/qd-src.$$" || true
    rm -f "${TMPDIR:-/tmp}/qd-def.$$" "${TMPDIR:-/tmp}/qd-src.$$"
    exit 1
fi
echo "$(printf '%s\n' "$want" | wc -l) names match"
