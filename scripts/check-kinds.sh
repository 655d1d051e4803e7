#!/bin/sh
# check-kinds.sh [ROOT]: every kind (link kind, model, output format) is
# known in its table only, and the layers look down only. Prints each line
# that breaks a rule and exits 1; 0 when none does. Tests, the public header
# and the tables themselves are outside the rules.
#
#   - a link kind's name ("ir", "irda", "bt", "usb", "ble") or number as a
#     literal outside link/link_kinds.h, or a test of a link by its kind's
#     name (link == LINK_USB) instead of a trait of its row;
#   - a model index as a literal (model == 4, modelEntry(4));
#   - an output format's key ("edf", "--tsv") outside the format table;
#   - a file of link/ that includes the driver's API, a file of the
#     protocol that includes the windows.
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 2
dirs="API link os sim tools Upgrade bench python"
found=0

# rule TEXT PATTERN [ALLOWED [DIRS]]: lines of the sources in DIRS (the
# product's folders) matching the extended PATTERN, except those matching
# the extended ALLOWED ("FILE:LINE:TEXT").
rule() {
    hits=$(grep -rnE --include='*.cpp' --include='*.h' --include='*.py' "$2" ${4:-$dirs} |
        grep -vE "^(${3:-^$})")
    [ -z "$hits" ] && return 0
    echo "$1:"
    echo "$hits" | sed 's/^/  /'
    found=1
}

rule "a link kind's name as a literal" '"(ir|irda|bt|usb|ble)"' \
    'link/link_kinds\.h:|sim/umockdev_ftdi/usbfs_chip\.cpp:[0-9]+: +bed->testbed, "usb"'
rule "a link number as a literal" '\b(link|linkType|link_type|type)\s*(==|!=)\s*[0-9]+\b|\bL=[0-9]\b' \
    'sim/blesim\.cpp:'
rule "a link tested by its kind instead of a trait" \
    '(==|!=|case)\s*(QD_|drv\.)?LINK_(IRDA|BT|USB|BLE)\b|\bLINK_(IRDA|BT|USB|BLE)\s*(==|!=)|\bin \((drv\.)?LINK_' \
    'API/driver/protocol/protocol\.h:[0-9]+:static_assert'
rule "a model index as a literal" '\bmodel(Index)?\s*(==|!=)\s*[0-9]+\b|modelEntry\(\s*[0-9]+\s*\)'
rule "an output format's key outside its table" '"(--)?(edf|tsv|edfplus)"' 'API/driver/ui/recording\.(cpp|h):'
rule "the link library includes the driver's API" '#include "(API/|QuorvaneDrv\.h)' '' link
rule "the protocol includes the windows" '#include "API/driver/ui/' '' API/driver/protocol
exit $found
