#!/bin/sh
# demo.sh: the main job against the simulated device (see README).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
# The driver logs to $ALLUSERSPROFILE/Quorvane, else /var/lib/Quorvane. When
# neither is usable (a normal user cannot write /var/lib), log into the build.
shared=""
if [ -z "${ALLUSERSPROFILE:-}" ] && [ ! -w /var/lib ]; then
    shared="$root/build/native/demo-shared"
fi
exec "$root/build/native/tools/qdhost" ${shared:+--shared-dir "$shared"} "$root/build/native/libQuorvaneDrv.so"
